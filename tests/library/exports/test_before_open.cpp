// Before ORVL_OpenInterface every register export refuses with status 1 and
// sends nothing; a protected write is refused first.
#include <functional>

#include "library_fixture.h"

namespace orvel::test {
namespace {

struct ExportCase {
    const char *name;
    std::function<int32_t()> call;
    int32_t status;
};

ScheduleRecord gSchedule;
RtcRecord gRtc;
uint32_t gBitmap;
int32_t gEnabled = 1;
uint8_t gByte = 1;
char gText[16];

class BeforeOpenTest : public LibraryTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(BeforeOpenTest, ReturnsItsStatusWithoutAnyRequest)
{
    EXPECT_EQ(GetParam().call(), GetParam().status);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(fake().pauses.empty());
    EXPECT_TRUE(fake().opens.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, BeforeOpenTest,
    ::testing::Values(
        ExportCase{"GetVersionString", [] { return ORVL_GetVersionString(gText, 16); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetFeatureBitmap", [] { return ORVL_GetFeatureBitmap(&gBitmap); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetRTC", [] { return ORVL_GetRTC(&gRtc); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetRTC", [] { return ORVL_SetRTC(&gRtc); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetPwrResume", [] { return ORVL_GetPwrResume(&gEnabled); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetPwrResume", [] { return ORVL_SetPwrResume(&gEnabled); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetSchedule1", [] { return ORVL_GetSchedule1(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetSchedule2", [] { return ORVL_GetSchedule2(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetSchedule3", [] { return ORVL_GetSchedule3(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"GetSchedule4", [] { return ORVL_GetSchedule4(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetSchedule3", [] { return ORVL_SetSchedule3(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetSchedule4", [] { return ORVL_SetSchedule4(&gSchedule); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SMBusRead", [] { return ORVL_SMBusRead(0xAE, 0, &gByte); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SMBusWrite", [] { return ORVL_SMBusWrite(0x50, 0, &gByte); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SMBusWriteProtected", [] { return ORVL_SMBusWrite(0xAE, 0, &gByte); }, ORVL_ERR_PROTECTED},
        ExportCase{"GetMiscCtrl", [] { return ORVL_GetMiscCtrl(&gByte); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetMiscCtrl", [] { return ORVL_SetMiscCtrl(&gByte); }, ORVL_ERR_NO_SESSION},
        ExportCase{"SetPwrOnAfterShutdownTick", [] { return ORVL_SetPwrOnAfterShutdownTick(&gByte); },
                   ORVL_ERR_NO_SESSION}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace orvel::test
