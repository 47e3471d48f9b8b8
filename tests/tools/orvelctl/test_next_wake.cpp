// When a schedule fires next, on the board's clock.
#include "clock_text.h"
#include "next_wake.h"

#include <gtest/gtest.h>

using namespace orvelctl;

namespace {

std::time_t at(const char *text)
{
    RtcRecord c{};
    EXPECT_TRUE(parseClock(text, c)) << text;
    return *clockSeconds(c);
}

RtcRecord clock(const char *text)
{
    RtcRecord c{};
    EXPECT_TRUE(parseClock(text, c)) << text;
    return c;
}

struct FiringCase {
    const char *now;
    uint8_t days;
    uint8_t hour, minute;
    const char *expected;  // nullptr: never
};

} // namespace

// 2026-12-12 is a Saturday, 2026-12-13 a Sunday.
TEST(NextFiring, DayMasksAndTimesAroundNow)
{
    const FiringCase cases[] = {
        // just before, at and after now, on an active day
        {"2026-12-12 08:29:59", 0x40, 8, 30, "2026-12-12 08:30:00"},
        {"2026-12-12 08:30:00", 0x40, 8, 30, "2026-12-12 08:30:00"},
        {"2026-12-12 08:30:01", 0x40, 8, 30, "2026-12-19 08:30:00"},  // only Saturdays: a week on
        {"2026-12-12 08:30:01", 0x7F, 8, 30, "2026-12-13 08:30:00"},  // every day: tomorrow
        // week wrap-around: Saturday evening to Sunday, and Sunday to Saturday
        {"2026-12-12 23:59:00", 0x01, 0, 0, "2026-12-13 00:00:00"},
        {"2026-12-12 23:59:00", 0x3E, 7, 0, "2026-12-14 07:00:00"},   // mon-fri from Saturday
        {"2026-12-13 00:00:01", 0x40, 0, 0, "2026-12-19 00:00:00"},
        {"2026-12-13 00:00:00", 0x01, 0, 0, "2026-12-13 00:00:00"},
        // month and year ends
        {"2026-12-31 23:00:00", 0x7F, 22, 0, "2027-01-01 22:00:00"},
        {"2028-02-28 12:00:00", 0x7F, 6, 0, "2028-02-29 06:00:00"},
        // no day, bit 7 alone, a time out of range
        {"2026-12-12 08:00:00", 0x00, 8, 30, nullptr},
        {"2026-12-12 08:00:00", 0x80, 8, 30, nullptr},
        {"2026-12-12 08:00:00", 0x7F, 24, 0, nullptr},
        {"2026-12-12 08:00:00", 0x7F, 8, 60, nullptr},
    };
    for (const FiringCase &c : cases) {
        const auto next = nextFiring(at(c.now), c.days, c.hour, c.minute);
        if (!c.expected) {
            EXPECT_FALSE(next.has_value()) << c.now << " days " << int(c.days);
        } else {
            ASSERT_TRUE(next.has_value()) << c.now << " days " << int(c.days);
            EXPECT_EQ(formatClock(clockFromTime(*next)), c.expected) << c.now << " days " << int(c.days);
        }
    }
}

TEST(NextWakeReport, EachScheduleThenTheEarliest)
{
    ScheduleRecord s[4] = {};
    s[0] = {8, 30, 18, 0, 3, 0x3E};   // mon-fri, both times
    s[1] = {6, 0, 0, 0, 1, 0x41};     // weekend, power on only
    s[2] = {9, 0, 21, 0, 0, 0x7F};    // both times disabled
    s[3] = {9, 0, 21, 0, 3, 0x00};    // no active day
    std::string text, error;
    ASSERT_TRUE(nextWakeReport(clock("2026-12-12 07:00:00"), s, false, text, error));
    EXPECT_EQ(text,
              "board clock: Sat 2026-12-12 07:00:00\n"
              "schedule 1: power on  Mon 2026-12-14 08:30\n"
              "schedule 1: power off Mon 2026-12-14 18:00\n"
              "schedule 2: power on  Sun 2026-12-13 06:00\n"
              "schedule 3: both times disabled\n"
              "schedule 4: no active day\n"
              "next: power on of schedule 2 at Sun 2026-12-13 06:00\n");

    ASSERT_TRUE(nextWakeReport(clock("2026-12-12 07:00:00"), s, true, text, error));
    EXPECT_NE(text.find("\"next\":{\"schedule\":2,\"event\":\"on\",\"at\":\"2026-12-13 06:00\",\"weekday\":\"Sun\"}"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("{\"schedule\":3,\"state\":\"both times disabled\",\"powerOn\":null,\"powerOff\":null}"),
              std::string::npos)
        << text;

    ScheduleRecord none[4] = {};
    ASSERT_TRUE(nextWakeReport(clock("2026-12-12 07:00:00"), none, false, text, error));
    EXPECT_NE(text.find("next: nothing is scheduled\n"), std::string::npos);

    // A clock that holds no date gives a reason, not a made-up date.
    RtcRecord broken{};
    broken.bytes[4] = 13;
    EXPECT_FALSE(nextWakeReport(broken, s, false, text, error));
    EXPECT_NE(error.find("no valid date"), std::string::npos);
}
