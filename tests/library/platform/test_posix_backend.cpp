// The POSIX backend's table on its own: the driver "service" started under
// either set of driver names waits for the device endpoint the driver file
// serves (KMUI64_1K for the WOW64 service "KMUI64"), opens it and stops it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "temp_dir.h"

namespace {

struct DriverNamesCase {
    const char *name;
    const char *device;
    const char *service;
    const char *driverPath;
};

class PosixBackend : public ::testing::TestWithParam<DriverNamesCase> {};

TEST_P(PosixBackend, ServiceStartsOnTheEndpointOfItsDriverFile)
{
    halden::test::TempDir dir("posix-backend");
    ::setenv("KMUI_RUNTIME_DIR", dir.path().c_str(), 1);
    const OrvlPlatform *os = orvlPlatform();
    const DriverNamesCase &c = GetParam();

    ASSERT_EQ(os->installAndStart(c.service, c.service, c.driverPath), 1);
    const OrvlDevice device = os->openDevice(c.device, 1);
    EXPECT_NE(device, ORVL_NO_DEVICE);
    uint8_t call[18] = {};
    EXPECT_EQ(os->ioControl(device, 0xF1F82418u, call, sizeof call), 1);
    os->closeDevice(device);
    EXPECT_EQ(os->stopAndRemove(c.service), 1);
    EXPECT_FALSE(halden::test::fileExists(dir.file("kmui-sim.pid")));
}

INSTANTIATE_TEST_SUITE_P(
    Names, PosixBackend,
    ::testing::Values(DriverNamesCase{"Native", "\\\\.\\KMUI32_1K", "KMUI32_1K", "SYSTEM32\\DRIVERS\\KMUI32_1K.SYS"},
                      DriverNamesCase{"Wow64", "\\\\.\\KMUI64_1K", "KMUI64", "SYSTEM32\\DRIVERS\\KMUI64_1K.SYS"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
