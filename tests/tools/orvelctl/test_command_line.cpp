// orvelctl's command line: what parses into which request, and what is refused.
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvelctl;

namespace {

bool parse(std::vector<std::string> args, Request &r, std::string &error)
{
    args.insert(args.begin(), "orvelctl");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    return parseCommandLine(int(argv.size()), argv.data(), r, error);
}

} // namespace

struct GoodCase {
    std::vector<std::string> args;
    Action action;
};

class GoodCommand : public testing::TestWithParam<GoodCase> {};

TEST_P(GoodCommand, Parses)
{
    Request r;
    std::string error;
    ASSERT_TRUE(parse(GetParam().args, r, error)) << error;
    EXPECT_EQ(r.action, GetParam().action);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GoodCommand,
    testing::Values(GoodCase{{"version"}, Action::Version}, GoodCase{{"--json", "version"}, Action::Version},
                    GoodCase{{"features"}, Action::Features}, GoodCase{{"clock", "get"}, Action::ClockGet},
                    GoodCase{{"clock", "set", "now"}, Action::ClockSet},
                    GoodCase{{"clock", "set", "2026-01-02", "03:04:05"}, Action::ClockSet},
                    GoodCase{{"clock", "set", "2026-01-02T03:04:05"}, Action::ClockSet},
                    GoodCase{{"clock", "set", "--raw", "1", "2", "3", "4", "5", "6"}, Action::ClockSet},
                    GoodCase{{"power-resume", "get"}, Action::PowerResumeGet},
                    GoodCase{{"power-resume", "set", "on"}, Action::PowerResumeSet},
                    GoodCase{{"schedule", "get", "1"}, Action::ScheduleGet},
                    GoodCase{{"schedule", "get", "4"}, Action::ScheduleGet},
                    GoodCase{{"schedule", "set", "3", "--on", "off"}, Action::ScheduleSet},
                    GoodCase{{"misc", "get"}, Action::MiscGet}, GoodCase{{"misc", "set", "0x80"}, Action::MiscSet},
                    GoodCase{{"tick", "10"}, Action::Tick},
                    GoodCase{{"smbus", "read", "0xAE", "0"}, Action::SmbusRead},
                    GoodCase{{"smbus", "write", "0xA8", "1", "255"}, Action::SmbusWrite},
                    GoodCase{{"schedule", "get", "3", "--json"}, Action::ScheduleGet},
                    GoodCase{{"version", "--help"}, Action::Help}, GoodCase{{"--help"}, Action::Help}));

TEST(CommandLine, FriendlyScheduleSet)
{
    Request r;
    std::string error;
    ASSERT_TRUE(parse({"schedule", "set", "4", "--days", "mon-fri", "--on", "08:30", "--off", "off"}, r, error))
        << error;
    EXPECT_EQ(r.schedule, 4);
    EXPECT_EQ(r.change.days, uint8_t(0x3E));
    EXPECT_EQ(r.change.onEnabled, true);
    EXPECT_EQ(r.change.onHour, uint8_t(8));
    EXPECT_EQ(r.change.onMinute, uint8_t(30));
    EXPECT_EQ(r.change.offEnabled, false);
    EXPECT_FALSE(r.change.offHour);
    EXPECT_FALSE(r.change.raw);
}

TEST(CommandLine, RawScheduleSetKeepsBytesInOrder)
{
    Request r;
    std::string error;
    ASSERT_TRUE(parse({"schedule", "set", "3", "--raw", "8", "30", "18", "0", "3", "0x3E"}, r, error)) << error;
    ASSERT_TRUE(r.change.raw);
    const ScheduleRecord &s = *r.change.raw;
    EXPECT_EQ(std::vector<int>({s.onHour, s.onMinute, s.offHour, s.offMinute, s.enableFlags, s.activeDays}),
              std::vector<int>({8, 30, 18, 0, 3, 62}));
}

struct BadCase {
    std::vector<std::string> args;
    const char *message;
};

class BadCommand : public testing::TestWithParam<BadCase> {};

TEST_P(BadCommand, RefusedWithReason)
{
    Request r;
    std::string error;
    EXPECT_FALSE(parse(GetParam().args, r, error));
    EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadCommand,
    testing::Values(BadCase{{}, "no command"}, BadCase{{"frob"}, "unknown command 'frob'"},
                    BadCase{{"--frob", "version"}, "unknown option '--frob'"},
                    BadCase{{"version", "extra"}, "too many arguments"},
                    BadCase{{"clock"}, "needs get or set"}, BadCase{{"clock", "set"}, "bad clock"},
                    BadCase{{"clock", "set", "yesterday"}, "bad clock"},
                    BadCase{{"clock", "set", "--raw", "1", "2"}, "bad clock"},
                    BadCase{{"clock", "set", "--raw", "1", "2", "3", "4", "5", "256"}, "bad clock byte '256'"},
                    BadCase{{"power-resume", "set", "maybe"}, "on or off"},
                    BadCase{{"power-resume", "set"}, "missing argument"},
                    BadCase{{"schedule", "get", "5"}, "no schedule '5'"},
                    BadCase{{"schedule", "get", "0"}, "no schedule '0'"},
                    BadCase{{"schedule", "get"}, "missing argument"},
                    BadCase{{"schedule", "set", "1", "--on", "08:00"}, "only 3 and 4"},
                    BadCase{{"schedule", "set", "3"}, "nothing to set"},
                    BadCase{{"schedule", "set", "3", "--on"}, "needs a value"},
                    BadCase{{"schedule", "set", "3", "--on", "25:00"}, "bad time '25:00'"},
                    BadCase{{"schedule", "set", "3", "--days", "someday"}, "bad days"},
                    BadCase{{"schedule", "set", "3", "--when", "now"}, "unknown option '--when'"},
                    BadCase{{"schedule", "set", "3", "--raw", "1", "2", "3", "4", "5"}, "exactly six bytes"},
                    BadCase{{"schedule", "set", "3", "--days", "all", "--raw", "1", "2", "3", "4", "5", "6"},
                            "exactly six bytes"},
                    BadCase{{"schedule", "set", "3", "--raw", "1", "2", "3", "4", "5", "300"},
                            "bad ACTIVE_DAYS '300'"},
                    BadCase{{"misc", "set", "x"}, "bad value 'x'"}, BadCase{{"tick"}, "missing argument"},
                    BadCase{{"smbus", "read", "0xAE"}, "missing argument"},
                    BadCase{{"smbus", "write", "0x1AE", "0", "1"}, "bad address '0x1AE'"},
                    BadCase{{"smbus", "erase"}, "needs read or write"},
                    // What was typed is quoted, control characters made visible: still one line.
                    BadCase{{"c\n"}, "unknown command 'c?'"},
                    BadCase{{"clock", "set", "2023-02-30\r00:00:00"}, "bad clock '2023-02-30?00:00:00'"},
                    BadCase{{"clock", "set", "2023-02-30", "00:00:00"}, "bad clock '2023-02-30 00:00:00'"}));
