// Every pointer argument of every export, null, with and without a session:
// the export returns ORVL_ERR_NULL_POINTER before any request reaches the
// driver, and no register of the board changes.
#include <array>
#include <functional>

#include "library_fixture.h"

namespace orvel::test {
namespace {

struct NullCase {
    const char *name;
    std::function<int32_t()> call;
};

// Every register of the two devices on the bus.
std::vector<uint8_t> registers(const kmui::Board &board)
{
    std::vector<uint8_t> all;
    for (uint8_t address : {kmui::kControllerAddress, kmui::kEepromAddress})
        for (int reg = 0; reg < 256; ++reg)
            all.push_back(board.reg(address, uint8_t(reg)));
    return all;
}

class NullPointerTest : public LibraryTest, public ::testing::WithParamInterface<std::tuple<NullCase, bool>> {};

TEST_P(NullPointerTest, RefusedBeforeAnyRequest)
{
    const auto &[c, withSession] = GetParam();
    if (withSession)
        openVerified();
    // The clock hold bit among them: a refused clock access must not leave it set.
    const std::vector<uint8_t> before = registers(board());
    EXPECT_EQ(c.call(), ORVL_ERR_NULL_POINTER) << c.name;
    EXPECT_TRUE(fake().requests.empty()) << c.name;
    EXPECT_TRUE(fake().pauses.empty()) << c.name;
    EXPECT_EQ(registers(board()), before) << c.name;
}

const uint8_t kByte = 1;

INSTANTIATE_TEST_SUITE_P(
    Exports, NullPointerTest,
    ::testing::Combine(
        ::testing::Values(
            NullCase{"GetVersionString", [] { return ORVL_GetVersionString(nullptr, 16); }},
            NullCase{"GetVersionStringLengthOne", [] { return ORVL_GetVersionString(nullptr, 1); }},
            NullCase{"GetFeatureBitmap", [] { return ORVL_GetFeatureBitmap(nullptr); }},
            NullCase{"GetRTC", [] { return ORVL_GetRTC(nullptr); }},
            NullCase{"SetRTC", [] { return ORVL_SetRTC(nullptr); }},
            NullCase{"GetPwrResume", [] { return ORVL_GetPwrResume(nullptr); }},
            NullCase{"SetPwrResume", [] { return ORVL_SetPwrResume(nullptr); }},
            NullCase{"GetSchedule1", [] { return ORVL_GetSchedule1(nullptr); }},
            NullCase{"GetSchedule2", [] { return ORVL_GetSchedule2(nullptr); }},
            NullCase{"GetSchedule3", [] { return ORVL_GetSchedule3(nullptr); }},
            NullCase{"GetSchedule4", [] { return ORVL_GetSchedule4(nullptr); }},
            NullCase{"SetSchedule3", [] { return ORVL_SetSchedule3(nullptr); }},
            NullCase{"SetSchedule4", [] { return ORVL_SetSchedule4(nullptr); }},
            NullCase{"SMBusRead", [] { return ORVL_SMBusRead(0x52, 0x10, nullptr); }},
            NullCase{"SMBusReadController", [] { return ORVL_SMBusRead(0xAE, 0x19, nullptr); }},
            NullCase{"SMBusWrite", [] { return ORVL_SMBusWrite(0x52, 0x10, nullptr); }},
            NullCase{"GetMiscCtrl", [] { return ORVL_GetMiscCtrl(nullptr); }},
            NullCase{"SetMiscCtrl", [] { return ORVL_SetMiscCtrl(nullptr); }},
            NullCase{"SetPwrOnAfterShutdownTick", [] { return ORVL_SetPwrOnAfterShutdownTick(nullptr); }}),
        ::testing::Bool()),
    [](const auto &info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_InSession" : "_NoSession");
    });

// A protected write is refused as protected before its pointer is looked at,
// and a version read that copies nothing may pass no buffer.
TEST_F(LibraryTest, ProtectedWriteAndEmptyVersionReadKeepTheirStatus)
{
    openVerified();
    EXPECT_EQ(ORVL_SMBusWrite(0xAE, 0x19, nullptr), ORVL_ERR_PROTECTED);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_EQ(ORVL_GetVersionString(nullptr, 0), ORVL_OK);
    EXPECT_EQ(ORVL_SMBusWrite(0x52, 0x10, &kByte), ORVL_OK);
}

} // namespace
} // namespace orvel::test
