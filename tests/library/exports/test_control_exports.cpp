// Power resume, feature bitmap, miscellaneous control and the tick.
#include "library_fixture.h"

namespace orvel::test {
namespace {

struct ResumeCase {
    const char *name;
    uint8_t control;
    int32_t enabled;
};

class GetPwrResumeTest : public LibraryTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(GetPwrResumeTest, ReportsBitZeroOnly)
{
    openVerified();
    board().setReg(0xAE, 0x19, GetParam().control);
    int32_t enabled = -7;
    EXPECT_EQ(ORVL_GetPwrResume(&enabled), ORVL_OK);
    EXPECT_EQ(enabled, GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(Bits, GetPwrResumeTest,
                         ::testing::Values(ResumeCase{"Off", 0x00, 0}, ResumeCase{"On", 0x01, 1},
                                           ResumeCase{"OnWithHold", 0x09, 1},
                                           ResumeCase{"OffOthersSet", 0xFE, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, GetPwrResumeAfterDoneTimeoutReportsOne)
{
    openVerified();
    kmui::BoardConfig config;
    config.doneAfter = 0;
    useBoard(config);
    int32_t enabled = 0;
    EXPECT_EQ(ORVL_GetPwrResume(&enabled), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(enabled, 1);
}

struct SetResumeCase {
    const char *name;
    uint8_t before;
    int32_t enabled;
    uint8_t after;
};

class SetPwrResumeTest : public LibraryTest, public ::testing::WithParamInterface<SetResumeCase> {};

TEST_P(SetPwrResumeTest, ChangesBitZeroAndKeepsTheOthers)
{
    const SetResumeCase &c = GetParam();
    openVerified();
    board().setReg(0xAE, 0x19, c.before);
    clearRecords();
    EXPECT_EQ(ORVL_SetPwrResume(&c.enabled), ORVL_OK);
    EXPECT_EQ(transactions(), (std::vector<Transaction>{rd(0x19), wr(0x19, c.after)}));
}

INSTANTIATE_TEST_SUITE_P(Values, SetPwrResumeTest,
                         ::testing::Values(SetResumeCase{"SetOne", 0x00, 1, 0x01},
                                           SetResumeCase{"SetTwo", 0x40, 2, 0x41},
                                           SetResumeCase{"SetNegative", 0x00, -1, 0x01},
                                           SetResumeCase{"Clear", 0xC1, 0, 0xC0},
                                           SetResumeCase{"AlreadySet", 0x01, 1, 0x01}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, SetPwrResumeWritesNothingWhenTheReadFails)
{
    openVerified();
    kmui::BoardConfig config;
    config.doneAfter = 0;
    useBoard(config);
    const int32_t enabled = 1;
    EXPECT_EQ(ORVL_SetPwrResume(&enabled), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(transactions(), std::vector<Transaction>{rd(0x19)});
}

TEST_F(LibraryTest, FeatureBitmapWidensTheByte)
{
    openVerified();
    board().setReg(0xAE, 0x18, 0xA5);
    uint32_t bitmap = 0xFFFFFFFF;
    EXPECT_EQ(ORVL_GetFeatureBitmap(&bitmap), ORVL_OK);
    EXPECT_EQ(bitmap, 0xA5u);
    EXPECT_EQ(transactions(), std::vector<Transaction>{rd(0x18)});
}

TEST_F(LibraryTest, FeatureBitmapIsZeroAfterAFailure)
{
    openVerified();
    kmui::BoardConfig config;
    config.doneAfter = 0;
    useBoard(config);
    uint32_t bitmap = 0xFFFFFFFF;
    EXPECT_EQ(ORVL_GetFeatureBitmap(&bitmap), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(bitmap, 0u);
}

TEST_F(LibraryTest, MiscControlRoundTrips)
{
    openVerified();
    const uint8_t value = 0x5C;
    EXPECT_EQ(ORVL_SetMiscCtrl(&value), ORVL_OK);
    uint8_t back = 0;
    EXPECT_EQ(ORVL_GetMiscCtrl(&back), ORVL_OK);
    EXPECT_EQ(back, 0x5C);
    EXPECT_EQ(transactions(), (std::vector<Transaction>{wr(0x80, 0x5C), rd(0x80)}));
}

TEST_F(LibraryTest, MiscControlReadStoresFFAfterDoneTimeout)
{
    openVerified();
    kmui::BoardConfig config;
    config.doneAfter = 0;
    useBoard(config);
    uint8_t value = 0;
    EXPECT_EQ(ORVL_GetMiscCtrl(&value), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(value, 0xFF);
}

TEST_F(LibraryTest, PowerOnTickGoesToRegister81)
{
    openVerified();
    const uint8_t tick = 12;
    EXPECT_EQ(ORVL_SetPwrOnAfterShutdownTick(&tick), ORVL_OK);
    EXPECT_EQ(transactions(), std::vector<Transaction>{wr(0x81, 12)});
}

} // namespace
} // namespace orvel::test
