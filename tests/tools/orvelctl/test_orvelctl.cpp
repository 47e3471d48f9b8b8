// orvelctl as a user runs it, against a simulated board in its own folder.
#include "kmui_sim_process.h"
#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <string>
#include <vector>

using namespace halden::test;

namespace {

const std::string kOrvelctl = HALDEN_BIN_DIR "/orvelctl";

ProgramResult orvelctl(const KmuiSimProcess &sim, std::vector<std::string> args)
{
    args.insert(args.begin(), kOrvelctl);
    return runProgram(args, {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()});
}

class Orvelctl : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.start()) << sim.error(); }
    ProgramResult run(std::vector<std::string> args) { return orvelctl(sim, std::move(args)); }
    // Runs and expects success with nothing on standard error.
    std::string ok(std::vector<std::string> args)
    {
        auto r = run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out;
    }
    KmuiSimProcess sim;
};

} // namespace

TEST_F(Orvelctl, ScheduleSurvivesABoardRestart)
{
    EXPECT_EQ(ok({"schedule", "set", "3", "--days", "mon-fri", "--on", "08:30", "--off", "18:00"}), "");
    ASSERT_EQ(sim.stop(), 0);
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_EQ(ok({"--json", "schedule", "get", "3"}),
              "{\"onHour\":8,\"onMinute\":30,\"offHour\":18,\"offMinute\":0,\"enableFlags\":3,\"activeDays\":62}\n");
}

TEST_F(Orvelctl, RawScheduleLandsInTheRegistersAsGiven)
{
    EXPECT_EQ(ok({"schedule", "set", "4", "--raw", "23", "59", "0", "1", "2", "0x7F"}), "");
    EXPECT_EQ(ok({"--json", "schedule", "get", "4"}),
              "{\"onHour\":23,\"onMinute\":59,\"offHour\":0,\"offMinute\":1,\"enableFlags\":2,\"activeDays\":127}\n");
    // Block 4 at 0x60: enable flags, days, on hour, on minute, off hour, off minute.
    const char *expected[6] = {"0x02\n", "0x7F\n", "0x17\n", "0x3B\n", "0x00\n", "0x01\n"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ok({"smbus", "read", "0xAE", std::to_string(0x60 + i)}), expected[i]) << i;
    // Block 3 untouched.
    EXPECT_EQ(ok({"--json", "schedule", "get", "3"}),
              "{\"onHour\":0,\"onMinute\":0,\"offHour\":0,\"offMinute\":0,\"enableFlags\":0,\"activeDays\":0}\n");
}

TEST_F(Orvelctl, VersionFixedForms)
{
    EXPECT_EQ(ok({"--json", "version"}), "{\"version\":\"ORVEL SIM 1.0\"}\n");
    EXPECT_EQ(ok({"version"}), "ORVEL SIM 1.0\n");
}

TEST_F(Orvelctl, ReadableSchedule)
{
    EXPECT_EQ(ok({"schedule", "get", "1"}), "schedule 1\n"
                                            "  days:      Mon Tue Wed Thu Fri (0x3E)\n"
                                            "  power on:  07:00 off\n"
                                            "  power off: 19:00 off\n");
    ok({"schedule", "set", "3", "--days", "sat,sun", "--on", "9:05"});
    EXPECT_EQ(ok({"schedule", "get", "3"}), "schedule 3\n"
                                            "  days:      Sun Sat (0x41)\n"
                                            "  power on:  09:05 on\n"
                                            "  power off: 00:00 off\n");
    // Only what is given changes.
    ok({"schedule", "set", "3", "--on", "off", "--off", "22:15"});
    EXPECT_EQ(ok({"schedule", "get", "3"}), "schedule 3\n"
                                            "  days:      Sun Sat (0x41)\n"
                                            "  power on:  09:05 off\n"
                                            "  power off: 22:15 on\n");
}

TEST_F(Orvelctl, ControlRegisters)
{
    EXPECT_EQ(ok({"features"}), "0x0F\n");
    EXPECT_EQ(ok({"--json", "features"}), "{\"featureBitmap\":15}\n");
    EXPECT_EQ(ok({"power-resume", "get"}), "off\n");
    ok({"power-resume", "set", "on"});
    EXPECT_EQ(ok({"power-resume", "get"}), "on\n");
    EXPECT_EQ(ok({"--json", "power-resume", "get"}), "{\"powerResume\":1}\n");
    ok({"misc", "set", "0xA5"});
    EXPECT_EQ(ok({"misc", "get"}), "0xA5\n");
    EXPECT_EQ(ok({"--json", "misc", "get"}), "{\"miscCtrl\":165}\n");
    ok({"tick", "30"});
    ok({"smbus", "write", "0xA8", "0", "1"});  // no device there: goes nowhere, but is allowed
    EXPECT_EQ(ok({"smbus", "read", "0xA0", "0x10"}), "0xFF\n");
    // Power resume is bit 0 of 0x19; the clock accesses left the hold bit clear.
    EXPECT_EQ(ok({"smbus", "read", "0xAE", "0x19"}), "0x01\n");
}

TEST_F(Orvelctl, ClockSetAndGet)
{
    ok({"clock", "set", "2025-01-01", "08:00:00"});
    const std::string got = ok({"clock", "get"});
    // The clock runs on; within a minute of what was set.
    EXPECT_EQ(got.substr(0, 17), "2025-01-01 08:00:") << got;
    const std::string json = ok({"--json", "clock", "get"});
    EXPECT_EQ(json.rfind("{\"clock\":\"2025-01-01 08:00:", 0), 0u) << json;
    EXPECT_NE(json.find("\"bytes\":["), std::string::npos) << json;
    EXPECT_EQ(ok({"smbus", "read", "0xAE", "0x19"}), "0x00\n");  // hold released
}

TEST_F(Orvelctl, ProtectedAddressesAreRefused)
{
    for (const char *address : {"0xA0", "0xA7", "0xAE"}) {
        auto r = run({"smbus", "write", address, "0", "1"});
        EXPECT_EQ(r.exitCode, 6) << address;
        EXPECT_EQ(r.err, "orvelctl: address is protected\n") << address;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(ok({"version"}), "ORVEL SIM 1.0\n");  // untouched
}

struct UsageCase {
    std::vector<std::string> args;
    const char *message;
};

class OrvelctlUsage : public testing::TestWithParam<UsageCase> {};

TEST_P(OrvelctlUsage, ExitsWithAHintAndTouchesNoDevice)
{
    TempDir dir("orvelctl-usage");
    std::vector<std::string> args = GetParam().args;
    args.insert(args.begin(), kOrvelctl);
    auto r = runProgram(args, {"KMUI_RUNTIME_DIR=" + dir.path()});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "orvelctl: " + std::string(GetParam().message) + " (see orvelctl --help)\n");
    // The library was never asked to open (it would have started a board here).
    EXPECT_FALSE(fileExists(dir.file("kmui-sim.log")));
    EXPECT_FALSE(fileExists(dir.file("KMUI32_1K.sock")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrvelctlUsage,
    testing::Values(UsageCase{{}, "no command given"}, UsageCase{{"reboot"}, "unknown command 'reboot'"},
                    UsageCase{{"schedule", "set", "2", "--on", "08:00"}, "schedule '2' cannot be set (only 3 and 4)"},
                    UsageCase{{"schedule", "get", "9"}, "no schedule '9' (1 to 4)"},
                    UsageCase{{"schedule", "set", "3", "--on", "8h"}, "bad time '8h' for --on (HH:MM, on or off)"},
                    UsageCase{{"smbus", "write", "0xAE", "0"}, "missing argument to 'smbus write'"}));

struct FaultCase {
    const char *name;
    std::vector<std::string> simOptions;
    std::vector<std::string> args;
    int exitCode;
    const char *line;
};

class OrvelctlFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(OrvelctlFaults, OneLineAndTheLibraryStatus)
{
    KmuiSimProcess sim(GetParam().simOptions);
    ASSERT_TRUE(sim.start()) << sim.error();
    auto r = orvelctl(sim, GetParam().args);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
    EXPECT_EQ(r.err, "orvelctl: " + std::string(GetParam().line) + "\n");
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrvelctlFaults,
    testing::Values(
        FaultCase{"NeverReady", {"--never-ready"}, {"misc", "get"}, 5, "controller did not answer (timeout)"},
        FaultCase{"NeverDone", {"--never-done"}, {"--json", "schedule", "get", "3"}, 5,
                  "controller did not answer (timeout)"},
        FaultCase{"FailingCheck", {"--fail-service-check"}, {"version"}, 2, "firmware service check failed"},
        // Without a table the library calls on its default code, which this board does not answer.
        FaultCase{"NoTable", {"--no-table"}, {"version"}, 2, "firmware service check failed"},
        FaultCase{"CheckFailsBeforeProtection", {"--fail-service-check"}, {"smbus", "write", "0xAE", "1", "2"}, 2,
                  "firmware service check failed"}),
    [](const auto &info) { return std::string(info.param.name); });

// A board that hangs (stopped, not gone) is told apart from one that answers "no".
TEST(OrvelctlHungBoard, SaysTheBoardDidNotAnswer)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ASSERT_EQ(::kill(sim.pid(), SIGSTOP), 0);
    auto r = orvelctl(sim, {"version"});
    ::kill(sim.pid(), SIGCONT);
    EXPECT_EQ(r.exitCode, 2) << r.err;  // the service check found no firmware
    EXPECT_EQ(r.err, "orvelctl: the board did not answer (KMUI driver gave no reply; status 2)\n");
}

// --debug lets the library's lines through; without it only orvelctl's own line shows.
TEST(OrvelctlDebug, LibraryLinesOnlyWithDebug)
{
    KmuiSimProcess sim({"--fail-service-check"});
    ASSERT_TRUE(sim.start()) << sim.error();
    auto quiet = orvelctl(sim, {"version"});
    EXPECT_EQ(quiet.err, "orvelctl: firmware service check failed\n");
    auto loud = orvelctl(sim, {"--debug", "version"});
    EXPECT_NE(loud.err.find("ORVL_ServiceCheck\n"), std::string::npos) << loud.err;
    EXPECT_NE(loud.err.find("orvelctl: firmware service check failed\n"), std::string::npos) << loud.err;
}

struct WorkingBoardCase {
    const char *name;
    std::vector<std::string> simOptions;
    std::vector<std::string> args;
    const char *out;
};

class OrvelctlWorkingBoards : public testing::TestWithParam<WorkingBoardCase> {};

TEST_P(OrvelctlWorkingBoards, Answer)
{
    KmuiSimProcess sim(GetParam().simOptions);
    ASSERT_TRUE(sim.start()) << sim.error();
    auto r = orvelctl(sim, GetParam().args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrvelctlWorkingBoards,
    testing::Values(
        WorkingBoardCase{"TableAtTheLastProbe", {"--table-address", "0xEFFF0"}, {"--json", "version"},
                         "{\"version\":\"ORVEL SIM 1.0\"}\n"},
        WorkingBoardCase{"NoTableLibraryDefaults", {"--no-table", "--call-code", "0xED"}, {"--json", "version"},
                         "{\"version\":\"ORVEL SIM 1.0\"}\n"},
        WorkingBoardCase{"OtherCallPort", {"--call-port", "0x80"}, {"features"}, "0x0F\n"},
        WorkingBoardCase{"SlowFirmware", {"--ready-after", "99", "--done-after", "99"}, {"misc", "get"},
                         "0x00\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(OrvelctlNoBoard, NoSessionWhenTheDeviceCannotBeOpened)
{
    // A runtime "folder" that is a file: no board can be served or started there.
    TempDir dir("orvelctl-nosession");
    writeFile(dir.file("not-a-folder"), "");
    auto r = runProgram({kOrvelctl, "version"}, {"KMUI_RUNTIME_DIR=" + dir.file("not-a-folder")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "orvelctl: the board's runtime folder is refused: " + dir.file("not-a-folder")
                         + " is not a folder\n");
}

// orvelctl and the library (under its soname) copied into a folder of their
// own, beside a kmui-sim that is missing or that ends at once: the library
// cannot start the board and must say so promptly instead of waiting out its
// start-up bound (about 10 s). The bound here is loose on purpose;
// ./run-bench times it.
TEST(OrvelctlNoBoard, NoSessionPromptlyWhenTheBoardCannotStart)
{
    struct Case {
        const char *name;
        const char *simulator;  // script put beside the library as kmui-sim; nullptr: none
    };
    const Case cases[] = {{"missing", nullptr}, {"exits at once", "#!/bin/sh\nexit 3\n"}};
    for (const Case &c : cases) {
        TempDir dir("orvelctl-nostart");
        for (const char *file : {"orvelctl", "libORVEL.so.1"}) {
            writeFile(dir.file(file), readFile(std::string(HALDEN_BIN_DIR) + "/" + file));
            ::chmod(dir.file(file).c_str(), 0755);
        }
        if (c.simulator) {
            writeFile(dir.file("kmui-sim"), c.simulator);
            ::chmod(dir.file("kmui-sim").c_str(), 0755);
        }
        const auto begin = std::chrono::steady_clock::now();
        auto r = runProgram({dir.file("orvelctl"), "version"},
                            {"KMUI_RUNTIME_DIR=" + dir.file("run"), "LD_LIBRARY_PATH=" + dir.path()}, 30000);
        const auto took = std::chrono::steady_clock::now() - begin;
        EXPECT_EQ(r.exitCode, 1) << c.name << ": " << r.err;
        EXPECT_EQ(r.err, "orvelctl: no session: the KMUI device could not be opened\n") << c.name;
        EXPECT_LT(took, std::chrono::seconds(5)) << c.name << ": waited for a board that cannot come up";
    }
}

TEST(OrvelctlHelp, DocumentsEveryCommand)
{
    auto r = runProgram({kOrvelctl, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char *text : {"version", "features", "clock get", "clock set", "power-resume get",
                             "power-resume set", "schedule get", "schedule set", "--days", "--on", "--off", "--raw",
                             "misc get", "misc set", "tick", "smbus read", "smbus write", "--json", "Exit status"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
}

// The preview on the simulated board: its own clock, its four schedules.
TEST_F(Orvelctl, ScheduleNextReadsTheBoardsClockAndSchedules)
{
    ok({"clock", "set", "2026-12-12 23:50:00"});  // a Saturday evening
    ok({"schedule", "set", "3", "--days", "sun", "--on", "00:05", "--off", "off"});
    ok({"schedule", "set", "4", "--days", "none", "--on", "07:00"});
    const std::string text = ok({"schedule", "next"});
    EXPECT_NE(text.find("schedule 3: power on  Sun 2026-12-13 00:05\n"), std::string::npos) << text;
    EXPECT_NE(text.find("schedule 4: no active day\n"), std::string::npos) << text;
    EXPECT_NE(text.find("next: power on of schedule 3 at Sun 2026-12-13 00:05\n"), std::string::npos) << text;
    const std::string json = ok({"--json", "schedule", "next"});
    EXPECT_NE(json.find("\"next\":{\"schedule\":3,\"event\":\"on\",\"at\":\"2026-12-13 00:05\",\"weekday\":\"Sun\"}"),
              std::string::npos)
        << json;
}
