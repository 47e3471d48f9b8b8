// The three phases of an SMBus byte transaction and how their waits run out.
#include "core/smbus.h"
#include "library_fixture.h"

namespace orvel::test {
namespace {

TEST_F(LibraryTest, ReadyAndDoneAtOnceTakeThreeRequestsAndThreePauses)
{
    openVerified();
    board().setReg(0xAE, 0x18, 0x3C);

    uint8_t value = 0;
    EXPECT_EQ(smbusReadByte(0xAE, 0x18, value), ORVL_OK);
    EXPECT_EQ(value, 0x3C);

    ASSERT_EQ(fake().requests.size(), 3u);
    const uint32_t expectedEbx[3] = {0x00010000, 0x000201AE, 0x00030000};
    const uint32_t expectedEcx[3] = {0, 0x1800, 0};
    for (size_t i = 0; i < 3; ++i) {
        const Request &r = fake().requests[i];
        ASSERT_TRUE(r.isFirmwareCall());
        EXPECT_EQ(r.sent[0], board().config().callPort);
        EXPECT_EQ(r.sent[1], board().config().callCode);
        EXPECT_EQ(r.sentReg(0), 0u) << i;
        EXPECT_EQ(r.sentReg(1), expectedEbx[i]) << i;
        EXPECT_EQ(r.sentReg(2), expectedEcx[i]) << i;
        EXPECT_EQ(r.sentReg(3), 0u) << i;
    }
    EXPECT_EQ(fake().pauses, (std::vector<uint32_t>{10, 10, 10}));
}

TEST_F(LibraryTest, WriteStartCarriesAddressRegisterAndData)
{
    openVerified();
    EXPECT_EQ(smbusWriteByte(0x52, 0x34, 0x9C), ORVL_OK);
    ASSERT_EQ(fake().countCalls(kStart), 1u);
    const Request &start = fake().requests[1];
    EXPECT_EQ(start.sentReg(1), 0x00020052u);
    EXPECT_EQ(start.sentReg(2), 0x349Cu);
}

struct WaitCase {
    const char *name;
    int readyAfter;
    int doneAfter;
    int32_t status;
    uint8_t value;  // 0x5A: untouched
    size_t readyQueries, starts, doneQueries, pauses;
};

class WaitTest : public LibraryTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(WaitTest, ReadRunsOrRunsOutAsTheFirmwareAnswers)
{
    const WaitCase &c = GetParam();
    openVerified();
    kmui::BoardConfig config;
    config.readyAfter = c.readyAfter;
    config.doneAfter = c.doneAfter;
    useBoard(config);
    board().setReg(0xAE, 0x80, 0x42);

    uint8_t value = 0x5A;
    EXPECT_EQ(smbusReadByte(0xAE, 0x80, value), c.status);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(fake().countCalls(kReadyQuery), c.readyQueries);
    EXPECT_EQ(fake().countCalls(kStart), c.starts);
    EXPECT_EQ(fake().countCalls(kDoneQuery), c.doneQueries);
    EXPECT_EQ(fake().pauses.size(), c.pauses);
    for (uint32_t ms : fake().pauses)
        EXPECT_EQ(ms, 10u);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, WaitTest,
    ::testing::Values(WaitCase{"AtOnce", 1, 1, ORVL_OK, 0x42, 1, 1, 1, 3},
                      WaitCase{"ReadyOnSecond", 2, 1, ORVL_OK, 0x42, 2, 1, 1, 4},
                      WaitCase{"ReadyOn99th", 99, 1, ORVL_OK, 0x42, 99, 1, 1, 101},
                      WaitCase{"NeverReady", 0, 1, ORVL_ERR_TIMEOUT, 0x5A, 100, 0, 0, 99},
                      WaitCase{"DoneOn99th", 1, 99, ORVL_OK, 0x42, 1, 1, 99, 101},
                      WaitCase{"NeverDone", 1, 0, ORVL_ERR_TIMEOUT, 0xFF, 1, 1, 100, 1 + 1 + 99},
                      WaitCase{"BothNearlyRunOut", 99, 99, ORVL_OK, 0x42, 99, 1, 99, 99 + 1 + 99}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, WriteWhoseDoneNeverComesReturnsTimeout)
{
    openVerified();
    kmui::BoardConfig config;
    config.doneAfter = 0;
    useBoard(config);
    EXPECT_EQ(smbusWriteByte(0xAE, 0x80, 1), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(fake().countCalls(kStart), 1u);
    EXPECT_EQ(fake().countCalls(kDoneQuery), 100u);
}

TEST_F(LibraryTest, NoSessionSendsNothingAndLeavesTheValue)
{
    uint8_t value = 0x5A;
    EXPECT_EQ(smbusReadByte(0xAE, 0x80, value), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(smbusWriteByte(0xAE, 0x80, 1), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(fake().pauses.empty());
}

} // namespace
} // namespace orvel::test
