// Clock access under the hold bit of register 0x19.
#include "library_fixture.h"

namespace orvel::test {
namespace {

constexpr uint8_t kControl = 0x19;
constexpr uint8_t kHold = 0x08;

TEST_F(LibraryTest, GetRTCSetsHoldReadsTheClockAndClearsHold)
{
    openVerified();
    board().setReg(0xAE, kControl, 0x01);
    clearRecords();

    RtcRecord rtc{};
    EXPECT_EQ(ORVL_GetRTC(&rtc), ORVL_OK);
    const std::vector<Transaction> expected = {
        rd(kControl), wr(kControl, 0x01 | kHold),
        rd(0x20), rd(0x21), rd(0x22), rd(0x23), rd(0x24), rd(0x25),
        rd(kControl), wr(kControl, 0x01)};
    EXPECT_EQ(transactions(), expected);
    EXPECT_EQ(board().reg(0xAE, kControl), 0x01);
}

TEST_F(LibraryTest, SetRTCWritesTheSixBytesUnderHold)
{
    openVerified();
    board().setReg(0xAE, kControl, 0x00);
    const RtcRecord rtc{{0x10, 0x20, 0x30, 0x40, 0x50, 0x60}};

    EXPECT_EQ(ORVL_SetRTC(&rtc), ORVL_OK);
    const std::vector<Transaction> expected = {
        rd(kControl), wr(kControl, kHold),
        wr(0x20, 0x10), wr(0x21, 0x20), wr(0x22, 0x30), wr(0x23, 0x40), wr(0x24, 0x50), wr(0x25, 0x60),
        rd(kControl), wr(kControl, 0x00)};
    EXPECT_EQ(transactions(), expected);
    EXPECT_EQ(board().reg(0xAE, kControl) & kHold, 0);
}

TEST_F(LibraryTest, ClockFailureLeavesHoldSetAndStoresOnlyGoodBytes)
{
    openVerified();
    board().setReg(0xAE, kControl, 0x00);
    // Hold written (2 transactions) and two clock bytes read; the third never finishes.
    fake().swallow = [this](const Request &r) {
        return r.function() == kDoneQuery && fake().countCalls(kStart) >= 5;
    };

    RtcRecord rtc{{0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5}};
    EXPECT_EQ(ORVL_GetRTC(&rtc), ORVL_ERR_TIMEOUT);
    EXPECT_NE(board().reg(0xAE, kControl) & kHold, 0);
    EXPECT_EQ(rtc.bytes[2], 0xC2);  // the failed read stores nothing
    EXPECT_EQ(rtc.bytes[3], 0xC3);

    // The next successful clock access clears it.
    fake().swallow = nullptr;
    EXPECT_EQ(ORVL_GetRTC(&rtc), ORVL_OK);
    EXPECT_EQ(board().reg(0xAE, kControl) & kHold, 0);
}

} // namespace
} // namespace orvel::test
