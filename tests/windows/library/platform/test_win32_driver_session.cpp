// ORVEL.DLL over the real Win32 platform with a KMUI driver that wine loads
// (kmui_test_driver.c): the device, the firmware table scan, the service
// check and SMBus transactions all go through CreateFileW and DeviceIoControl,
// and the service through the service control manager.
// The driver's entry is registered by the test (see test_driver_install.h).
#include <gtest/gtest.h>

#include <cstring>
#include <windows.h>

#include "debug_monitor.h"
#include "orvel.h"
#include "service_entry.h"
#include "test_driver_install.h"

namespace {

const wchar_t *const kService = win_test::kDriverService;

class Win32DriverSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(win_test::installTestDriver()) << "the KMUI test driver could not be registered";
        ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);
    }
    void TearDown() override
    {
        ORVL_CloseInterface();
        win_test::removeTestDriver();
    }
};

TEST_F(Win32DriverSessionTest, StartsTheStoppedDriverAndStopsAndRemovesItAtClose)
{
    ASSERT_EQ(win_test::queryServiceEntry(kService).state, DWORD(SERVICE_STOPPED));

    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(win_test::queryServiceEntry(kService).state, DWORD(SERVICE_RUNNING));

    // The library ran install-and-start for this session, so closing it
    // stops the driver and removes its entry, as for one it created.
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_FALSE(win_test::queryServiceEntry(kService).exists);
}

TEST_F(Win32DriverSessionTest, TheServiceCheckWritesItsTwoLinesToTheDebugger)
{
    win_test::DebugMonitor monitor;
    ASSERT_TRUE(monitor.listening());

    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    const std::vector<std::string> lines = monitor.waitForLines(2, 5000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ORVL_ServiceCheck");
    EXPECT_EQ(lines[1], "EAX=0x00000000, EBX=0x70479315, ECX=0x00000001, EDX=0x00000000,\n");
}

TEST_F(Win32DriverSessionTest, UsesARunningDriverAndLeavesItRunning)
{
    ASSERT_TRUE(win_test::startService(kService));

    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);

    const win_test::ServiceEntry entry = win_test::queryServiceEntry(kService);
    EXPECT_TRUE(entry.exists);
    EXPECT_EQ(entry.state, DWORD(SERVICE_RUNNING));
}

TEST_F(Win32DriverSessionTest, SchedulesAndControlBytesGoThroughTheDriver)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);

    const ScheduleRecord slot1 = {7, 30, 22, 15, 3, 0x3E};
    const ScheduleRecord slot2 = {6, 0, 23, 59, 1, 0x41};
    ASSERT_EQ(ORVL_SetSchedule3(&slot1), ORVL_OK);
    ASSERT_EQ(ORVL_SetSchedule4(&slot2), ORVL_OK);
    ScheduleRecord back3 {}, back4 {};
    ASSERT_EQ(ORVL_GetSchedule3(&back3), ORVL_OK);
    ASSERT_EQ(ORVL_GetSchedule4(&back4), ORVL_OK);
    EXPECT_EQ(0, memcmp(&back3, &slot1, sizeof slot1));
    EXPECT_EQ(0, memcmp(&back4, &slot2, sizeof slot2));

    const uint8_t misc = 0xA5;
    ASSERT_EQ(ORVL_SetMiscCtrl(&misc), ORVL_OK);
    uint8_t miscBack = 0;
    ASSERT_EQ(ORVL_GetMiscCtrl(&miscBack), ORVL_OK);
    EXPECT_EQ(miscBack, misc);
    // The record's bytes sit at their registers: enable flags at 0x50, the power-on hour at 0x52.
    uint8_t flags = 0, hour = 0;
    ASSERT_EQ(ORVL_SMBusRead(0xAE, 0x50, &flags), ORVL_OK);
    ASSERT_EQ(ORVL_SMBusRead(0xAE, 0x52, &hour), ORVL_OK);
    EXPECT_EQ(flags, slot1.enableFlags);
    EXPECT_EQ(hour, slot1.onHour);
}

TEST_F(Win32DriverSessionTest, ASecondOpenKeepsTheSessionAndItsDriver)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(win_test::queryServiceEntry(kService).state, DWORD(SERVICE_RUNNING));
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_FALSE(win_test::queryServiceEntry(kService).exists);
}

} // namespace
