// Day lists, times and clocks as orvelctl reads and writes them.
#include "clock_text.h"
#include "number_syntax.h"
#include "schedule_text.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace orvelctl;
using halden::parseNumber;

struct DaysCase {
    const char *text;
    bool ok;
    uint8_t mask;
};

class Days : public testing::TestWithParam<DaysCase> {};

TEST_P(Days, Parse)
{
    uint8_t mask = 0xAA;
    EXPECT_EQ(parseDays(GetParam().text, mask), GetParam().ok);
    EXPECT_EQ(mask, GetParam().ok ? GetParam().mask : 0xAA);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Days,
    testing::Values(DaysCase{"mon-fri", true, 0x3E}, DaysCase{"Mon-Fri", true, 0x3E}, DaysCase{"sun", true, 0x01},
                    DaysCase{"sat", true, 0x40}, DaysCase{"sat,sun", true, 0x41}, DaysCase{"fri-mon", true, 0x63},
                    DaysCase{"mon,wed-fri", true, 0x3A}, DaysCase{"weekdays", true, 0x3E},
                    DaysCase{"weekend", true, 0x41}, DaysCase{"all", true, 0x7F}, DaysCase{"none", true, 0x00},
                    DaysCase{"tuesday", true, 0x04}, DaysCase{"0x3E", true, 0x3E}, DaysCase{"62", true, 0x3E},
                    DaysCase{"0x80", false, 0}, DaysCase{"", false, 0}, DaysCase{"mon-", false, 0},
                    DaysCase{"mon-tue-wed", false, 0}, DaysCase{"funday", false, 0}, DaysCase{"mon,,tue", false, 0},
                    DaysCase{"-1", false, 0}));

TEST(Days, Format)
{
    EXPECT_EQ(formatDays(0x3E), "Mon Tue Wed Thu Fri");
    EXPECT_EQ(formatDays(0x41), "Sun Sat");
    EXPECT_EQ(formatDays(0x00), "none");
    EXPECT_EQ(formatDays(0xFF), "Sun Mon Tue Wed Thu Fri Sat +0x80");
}

struct TimeCase {
    const char *text;
    bool ok;
    int hour, minute;
};

class Time : public testing::TestWithParam<TimeCase> {};

TEST_P(Time, Parse)
{
    uint8_t h = 99, m = 99;
    EXPECT_EQ(parseTime(GetParam().text, h, m), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(h, GetParam().hour);
        EXPECT_EQ(m, GetParam().minute);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Time,
                         testing::Values(TimeCase{"08:30", true, 8, 30}, TimeCase{"8:30", true, 8, 30},
                                         TimeCase{"00:00", true, 0, 0}, TimeCase{"23:59", true, 23, 59},
                                         TimeCase{"09:09", true, 9, 9}, TimeCase{"24:00", false, 0, 0},
                                         TimeCase{"12:60", false, 0, 0}, TimeCase{"12:5", false, 0, 0},
                                         TimeCase{"123:00", false, 0, 0}, TimeCase{"12", false, 0, 0},
                                         TimeCase{"1a:00", false, 0, 0}, TimeCase{"-1:00", false, 0, 0},
                                         TimeCase{"12:00:00", false, 0, 0}, TimeCase{"", false, 0, 0}));

TEST(Time, Format)
{
    EXPECT_EQ(formatTime(8, 5), "08:05");
    EXPECT_EQ(formatTime(23, 59), "23:59");
}

TEST(Schedule, JsonIsTheFixedForm)
{
    ScheduleRecord r{8, 30, 18, 0, 3, 62};
    EXPECT_EQ(scheduleJson(r),
              "{\"onHour\":8,\"onMinute\":30,\"offHour\":18,\"offMinute\":0,\"enableFlags\":3,\"activeDays\":62}");
    ScheduleRecord all{255, 255, 255, 255, 255, 255};
    EXPECT_EQ(scheduleJson(all), "{\"onHour\":255,\"onMinute\":255,\"offHour\":255,\"offMinute\":255,"
                                 "\"enableFlags\":255,\"activeDays\":255}");
}

TEST(Schedule, Readable)
{
    ScheduleRecord r{8, 30, 18, 0, 2, 0x3E};
    EXPECT_EQ(formatSchedule(3, r), "schedule 3\n"
                                    "  days:      Mon Tue Wed Thu Fri (0x3E)\n"
                                    "  power on:  08:30 off\n"
                                    "  power off: 18:00 on\n");
}

struct ClockCase {
    const char *text;
    bool ok;
    RtcRecord bytes;
};

class ClockText : public testing::TestWithParam<ClockCase> {};

TEST_P(ClockText, Parse)
{
    RtcRecord c{};
    EXPECT_EQ(parseClock(GetParam().text, c), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(std::memcmp(c.bytes, GetParam().bytes.bytes, 6), 0);
        EXPECT_EQ(formatClock(c), std::string(GetParam().text).replace(10, 1, " "));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClockText,
    testing::Values(ClockCase{"2026-12-09 21:30:15", true, {{15, 30, 21, 9, 12, 26}}},
                    ClockCase{"2000-01-01T00:00:00", true, {{0, 0, 0, 1, 1, 0}}},
                    ClockCase{"2255-12-31 23:59:59", true, {{59, 59, 23, 31, 12, 255}}},
                    ClockCase{"1999-12-31 23:59:59", false, {}}, ClockCase{"2256-01-01 00:00:00", false, {}},
                    ClockCase{"2026-13-01 00:00:00", false, {}}, ClockCase{"2026-00-01 00:00:00", false, {}},
                    ClockCase{"2026-01-01 24:00:00", false, {}}, ClockCase{"2026-01-01 00:00", false, {}},
                    ClockCase{"2026-01-01 +0:00:00", false, {}}, ClockCase{"2026-01-01  0:00:00", false, {}},
                    ClockCase{"2026-01-01 00:00:00x", false, {}},
                    // The day is checked against the month, leap years included.
                    ClockCase{"2023-02-30 00:00:00", false, {}}, ClockCase{"2023-02-29 00:00:00", false, {}},
                    ClockCase{"2024-02-29 12:00:00", true, {{0, 0, 12, 29, 2, 24}}},
                    ClockCase{"2100-02-29 00:00:00", false, {}},
                    ClockCase{"2000-02-29 00:00:00", true, {{0, 0, 0, 29, 2, 0}}},
                    ClockCase{"2026-04-31 00:00:00", false, {}},
                    ClockCase{"2026-11-30 00:00:00", true, {{0, 0, 0, 30, 11, 26}}}));

TEST(ClockText, FromTime)
{
    RtcRecord c = clockFromTime(1796851815);  // 2026-12-09 21:30:15 UTC
    EXPECT_EQ(formatClock(c), "2026-12-09 21:30:15");
}

TEST(Number, DecimalAndHexNeverOctal)
{
    unsigned long v = 0;
    EXPECT_TRUE(parseNumber("08", 255, v));
    EXPECT_EQ(v, 8u);
    EXPECT_TRUE(parseNumber("0xAe", 255, v));
    EXPECT_EQ(v, 0xAEu);
    EXPECT_FALSE(parseNumber("256", 255, v));
    EXPECT_FALSE(parseNumber("0x100", 255, v));
    EXPECT_FALSE(parseNumber("0x", 255, v));
    EXPECT_FALSE(parseNumber("-1", 255, v));
    EXPECT_FALSE(parseNumber("99999999999999999999", 255, v));
    EXPECT_FALSE(parseNumber("1e3", 0xFFFFFFFF, v));
}
