// kmui-sim as a process: its endpoints and pid file, the wire protocol,
// clean shutdown, state across restarts, options and their errors.
#include "firmware_client.h"
#include "kmui_sim_process.h"
#include "run_program.h"
#include "sim_socket.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <vector>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace halden::test;

namespace {

FirmwareClient clientOver(SimSocket &socket, uint8_t port = 0xB2, uint8_t code = 0xEE)
{
    return FirmwareClient(
        [&socket](uint32_t c, std::vector<uint8_t> &b) {
            if (!socket.request(c, b))
                b.clear();
        },
        port, code);
}

std::string simProgram() { return KmuiSimProcess::programPath(); }

} // namespace

TEST(KmuiSim, ListensThenWritesItsPidFile)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    EXPECT_TRUE(fileExists(sim.endpointPath("KMUI32_1K")));
    EXPECT_TRUE(fileExists(sim.endpointPath("KMUI64_1K")));
    EXPECT_EQ(readFile(sim.pidFilePath()), std::to_string(sim.pid()) + "\n");
}

TEST(KmuiSim, AnswersTheServiceCheckOnBothDevices)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    for (const char *device : {"KMUI32_1K", "KMUI64_1K"}) {
        SimSocket socket(sim.endpointPath(device));
        ASSERT_TRUE(socket.connected()) << device;
        Registers r = clientOver(socket).call(Registers{});
        EXPECT_EQ(r.ebx, 0x70479315u) << device;
        EXPECT_EQ(r.ecx, 1u) << device;
    }
}

TEST(KmuiSim, ServesManyConnectionsOnOneBoard)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket first(sim.endpointPath()), second(sim.endpointPath()), third(sim.endpointPath("KMUI64_1K"));
    ASSERT_TRUE(first.connected() && second.connected() && third.connected());
    auto a = clientOver(first), b = clientOver(second), c = clientOver(third);
    ASSERT_TRUE(a.write(0xAE, 0x80, 0x5C));
    uint8_t v = 0;
    ASSERT_TRUE(b.read(0xAE, 0x80, v));
    EXPECT_EQ(v, 0x5C);
    ASSERT_TRUE(c.read(0xAE, 0x80, v));
    EXPECT_EQ(v, 0x5C);
}

TEST(KmuiSim, AnswersPipelinedAndSplitRequests)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket socket(sim.endpointPath());
    ASSERT_TRUE(socket.connected());
    // Ten physical reads sent in one go, the last one a byte at a time.
    std::string batch;
    for (uint32_t i = 0; i < 10; ++i) {
        const uint32_t header[2] = {0xF1F82408u, 1034};
        std::vector<uint8_t> block(1034, 0);
        const uint32_t address = 0xE8A40 + i;
        std::memcpy(block.data(), &address, 4);
        batch.append(reinterpret_cast<const char *>(header), 8);
        batch.append(reinterpret_cast<const char *>(block.data()), block.size());
    }
    const size_t last = batch.size() - (8 + 1034);
    ASSERT_TRUE(socket.sendRaw(batch.data(), last));
    for (size_t i = last; i < batch.size(); ++i)
        ASSERT_TRUE(socket.sendRaw(&batch[i], 1));
    for (uint32_t i = 0; i < 10; ++i) {
        std::vector<uint8_t> reply;
        ASSERT_TRUE(socket.readReply(reply)) << i;
        ASSERT_EQ(reply.size(), 1034u);
        EXPECT_EQ(reply[10], i < 4 ? "$ORV"[i] : 0x08 * (i == 4) + 0xB2 * (i == 5) + 0xEE * (i == 6)) << i;
    }
}

TEST(KmuiSim, DropsAnOversizedRequestAndKeepsServing)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket bad(sim.endpointPath());
    const uint32_t header[2] = {0xF1F82408u, 0x7FFFFFFFu};
    ASSERT_TRUE(bad.sendRaw(header, sizeof header));
    EXPECT_TRUE(bad.closedByPeer());
    SimSocket good(sim.endpointPath());
    EXPECT_EQ(clientOver(good).call(Registers{}).ebx, 0x70479315u);
}

TEST(KmuiSim, SigtermRemovesSocketsAndPidFile)
{
    for (int signal : {SIGTERM, SIGINT}) {
        KmuiSimProcess sim;
        ASSERT_TRUE(sim.start()) << sim.error();
        SimSocket idle(sim.endpointPath());  // an open handle does not hold it up
        ASSERT_TRUE(idle.connected());
        if (signal == SIGINT)
            ::kill(sim.pid(), SIGINT);
        EXPECT_EQ(sim.stop(), 0);
        EXPECT_FALSE(fileExists(sim.endpointPath("KMUI32_1K")));
        EXPECT_FALSE(fileExists(sim.endpointPath("KMUI64_1K")));
        EXPECT_FALSE(fileExists(sim.pidFilePath()));
    }
}

TEST(KmuiSim, StateSurvivesARestart)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    {
        SimSocket socket(sim.endpointPath());
        auto client = clientOver(socket);
        ASSERT_TRUE(client.write(0xAE, 0x50, 0x03));
        ASSERT_TRUE(client.write(0xAE, 0x51, 0x3E));
        ASSERT_TRUE(client.write(0xA0, 0x07, 0x99));
    }
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_TRUE(fileExists(sim.stateFilePath()));
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket socket(sim.endpointPath());
    auto client = clientOver(socket);
    uint8_t v = 0;
    ASSERT_TRUE(client.read(0xAE, 0x50, v));
    EXPECT_EQ(v, 0x03);
    ASSERT_TRUE(client.read(0xAE, 0x51, v));
    EXPECT_EQ(v, 0x3E);
    ASSERT_TRUE(client.read(0xA0, 0x07, v));
    EXPECT_EQ(v, 0x99);
}

TEST(KmuiSim, NoStateOptionKeepsNothing)
{
    KmuiSimProcess sim({"--no-state"});
    ASSERT_TRUE(sim.start()) << sim.error();
    {
        SimSocket socket(sim.endpointPath());
        ASSERT_TRUE(clientOver(socket).write(0xAE, 0x80, 0x12));
    }
    EXPECT_FALSE(fileExists(sim.stateFilePath()));
}

TEST(KmuiSim, ReplacesTheSocketOfAKilledBoard)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ::kill(sim.pid(), SIGKILL);
    sim.stop();
    ASSERT_TRUE(fileExists(sim.endpointPath()));
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket socket(sim.endpointPath());
    EXPECT_EQ(clientOver(socket).call(Registers{}).ebx, 0x70479315u);
}

TEST(KmuiSim, RefusesAFolderAnotherBoardServes)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    auto r = runProgram({simProgram(), "--runtime-dir", sim.runtimeDir()}, {}, 30000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("another kmui-sim already serves"), std::string::npos) << r.err;
    // The running board is unharmed.
    SimSocket socket(sim.endpointPath());
    EXPECT_EQ(clientOver(socket).call(Registers{}).ebx, 0x70479315u);
    EXPECT_EQ(readFile(sim.pidFilePath()), std::to_string(sim.pid()) + "\n");
}

TEST(KmuiSim, DefaultsToTheRuntimeFolderFromTheEnvironment)
{
    TempDir dir("kmui-env");
    const std::string runtime = dir.file("nested/run");
    // Started without --runtime-dir, it creates and serves the folder named
    // by the environment; the script stops it once its pid file shows.
    const std::vector<std::string> env{"KMUI_RUNTIME_DIR=" + runtime};
    auto r = runProgram({"/bin/sh", "-c",
                         "\"$0\" & pid=$!; i=0; while [ ! -e \"$KMUI_RUNTIME_DIR/kmui-sim.pid\" ] && [ $i -lt 2000 ]; do "
                         "sleep 0.01; i=$((i+1)); done; ls \"$KMUI_RUNTIME_DIR\"; kill -TERM $pid; wait $pid",
                         simProgram()},
                        env, 60000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("KMUI32_1K.sock"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kmui-sim.pid"), std::string::npos) << r.out;
    EXPECT_FALSE(fileExists(runtime + "/kmui-sim.pid"));
}

struct FaultCase {
    const char *name;
    std::vector<std::string> options;
    uint8_t port, code;      // where the firmware answers
    uint32_t checkEbx;       // EBX after the service check there
    int readyOn, doneOn;     // query the bits show on; 0 = not within 100
    size_t tableAt;          // where a 0xE0000.. scan finds "$ORV"; 0 = nowhere
    uint32_t count;          // count at offset 6
};

class KmuiSimFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(KmuiSimFaults, OptionsShapeTheBoard)
{
    const FaultCase &c = GetParam();
    KmuiSimProcess sim(c.options);
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket socket(sim.endpointPath());
    auto client = clientOver(socket, c.port, c.code);
    EXPECT_EQ(client.call(Registers{}).ebx, c.checkEbx);
    EXPECT_EQ(client.waitReady(), c.readyOn);
    if (c.readyOn) {
        client.call(0x00020100u + 0xAE, 0);
        EXPECT_EQ(client.waitDone(), c.doneOn);
    }
    size_t found = 0;
    uint32_t count = 0;
    for (uint32_t base = 0xE0000; base < 0xF0000 && !found; base += 1024) {
        auto b = client.physicalRead(base);
        ASSERT_EQ(b.size(), 1034u);
        std::memcpy(&count, b.data() + 6, 4);
        for (size_t i = 0; i + 4 <= 1024 && !found; ++i)
            if (std::memcmp(b.data() + 10 + i, "$ORV", 4) == 0)
                found = base + i;
    }
    EXPECT_EQ(found, c.tableAt);
    EXPECT_EQ(count, c.count);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KmuiSimFaults,
    testing::Values(
        FaultCase{"Defaults", {}, 0xB2, 0xEE, 0x70479315u, 1, 1, 0xE8A40, 7},
        FaultCase{"NoTable", {"--no-table"}, 0xB2, 0xEE, 0x70479315u, 1, 1, 0, 7},
        FaultCase{"TableAt", {"--table-address", "0xEFFF0"}, 0xB2, 0xEE, 0x70479315u, 1, 1, 0xEFFF0, 7},
        FaultCase{"Unaligned", {"--table-address", "979000"}, 0xB2, 0xEE, 0x70479315u, 1, 1, 979000, 7},
        FaultCase{"CallPort", {"--call-port", "0x80"}, 0x80, 0xEE, 0x70479315u, 1, 1, 0xE8A40, 7},
        FaultCase{"CallCodeElsewhere", {"--call-code", "0xED"}, 0xB2, 0xEE, 0, 0, 0, 0xE8A40, 7},
        FaultCase{"CallCode", {"--call-code", "0xED"}, 0xB2, 0xED, 0x70479315u, 1, 1, 0xE8A40, 7},
        FaultCase{"ReadyAfter", {"--ready-after", "42"}, 0xB2, 0xEE, 0x70479315u, 42, 1, 0xE8A40, 7},
        FaultCase{"NeverReady", {"--never-ready"}, 0xB2, 0xEE, 0x70479315u, 0, 0, 0xE8A40, 7},
        FaultCase{"DoneAfter", {"--done-after", "99"}, 0xB2, 0xEE, 0x70479315u, 1, 99, 0xE8A40, 7},
        FaultCase{"NeverDone", {"--never-done"}, 0xB2, 0xEE, 0x70479315u, 1, 0, 0xE8A40, 7},
        FaultCase{"FailingCheck", {"--fail-service-check"}, 0xB2, 0xEE, 0, 1, 1, 0xE8A40, 7},
        FaultCase{"Count", {"--returned-count", "4"}, 0xB2, 0xEE, 0x70479315u, 1, 1, 0xE8A40, 4}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadCommandCase {
    const char *name;
    std::vector<std::string> args;  // after the program; "@DIR" is a fresh folder
    int exitCode;
    const char *message;
};

class KmuiSimBadCommand : public testing::TestWithParam<BadCommandCase> {};

TEST_P(KmuiSimBadCommand, FailsWithOneClearLine)
{
    TempDir dir("kmui-bad");
    writeFile(dir.file("a-file"), "x");
    std::vector<std::string> args{simProgram()};
    for (const auto &a : GetParam().args) {
        std::string arg = a;
        if (arg.rfind("@DIR", 0) == 0)
            arg = dir.path() + arg.substr(4);
        args.push_back(arg);
    }
    auto r = runProgram(args, {}, 30000);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
    EXPECT_EQ(r.err.rfind("kmui-sim: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fileExists(dir.file("kmui-sim.pid")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KmuiSimBadCommand,
    testing::Values(
        BadCommandCase{"UnknownOption", {"--frobnicate"}, 2, "unknown option '--frobnicate'"},
        BadCommandCase{"MissingValue", {"--ready-after"}, 2, "needs a value"},
        BadCommandCase{"NotANumber", {"--ready-after", "soon"}, 2, "bad value 'soon' for --ready-after"},
        BadCommandCase{"ZeroReady", {"--ready-after", "0"}, 2, "bad value"},
        BadCommandCase{"NegativeDone", {"--done-after", "-3"}, 2, "bad value"},
        BadCommandCase{"PortTooBig", {"--call-port", "256"}, 2, "bad value '256' for --call-port"},
        BadCommandCase{"TableBelow", {"--table-address", "0xDFFF0"}, 2, "bad value"},
        BadCommandCase{"TableCutOff", {"--table-address", "0xEFFF9"}, 2, "bad value"},
        BadCommandCase{"CountTooBig", {"--returned-count", "1025"}, 2, "bad value"},
        BadCommandCase{"FolderIsAFile", {"--runtime-dir", "@DIR/a-file"}, 1, "a-file"},
        BadCommandCase{"FolderUnderAFile", {"--runtime-dir", "@DIR/a-file/sub"}, 1, "the runtime folder is refused: cannot create"},
        BadCommandCase{"FolderTooLong", {"--runtime-dir", "@DIR/" + std::string(120, 'x')}, 1, "too long"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(KmuiSim, HelpNamesEveryOption)
{
    auto r = runProgram({simProgram(), "--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char *option : {"--runtime-dir", "--no-state", "--no-table", "--table-address", "--call-port",
                               "--call-code", "--ready-after", "--never-ready", "--done-after", "--never-done",
                               "--fail-service-check", "--returned-count", "0xAE", "0xA0", "0x81"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

// --trace: one line per register write, on the monotonic clock, so that a
// benchmark can see when the last byte of a schedule took effect.
TEST(KmuiSim, TraceLogsEachRegisterWriteOnTheMonotonicClock)
{
    TempDir dir;
    const std::string trace = dir.file("writes.trace");
    KmuiSimProcess sim({"--trace", trace});
    ASSERT_TRUE(sim.start()) << sim.error();
    timespec before{}, after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const ProgramResult r = runProgram({HALDEN_BIN_DIR "/orvelctl", "schedule", "set", "4", "--raw", "7", "8", "9",
                                        "10", "3", "62"},
                                       {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()}, 20000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    clock_gettime(CLOCK_MONOTONIC, &after);
    const double from = double(before.tv_sec) + before.tv_nsec / 1e9, to = double(after.tv_sec) + after.tv_nsec / 1e9;

    std::istringstream lines(readFile(trace));
    std::string line;
    std::vector<unsigned> values;
    double last = 0;
    while (std::getline(lines, line)) {
        double stamp = 0;
        char word[16] = {};
        unsigned address = 0, reg = 0, value = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %15s 0x%x 0x%x 0x%x", &stamp, word, &address, &reg, &value), 5)
            << line;
        EXPECT_STREQ(word, "write");
        EXPECT_EQ(address, 0xAEu);
        EXPECT_GE(reg, 0x60u);
        EXPECT_LE(reg, 0x65u);
        EXPECT_GE(stamp, from);
        EXPECT_LE(stamp, to);
        EXPECT_GE(stamp, last) << "in order";
        last = stamp;
        values.push_back(value);
    }
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<unsigned>{3, 7, 8, 9, 10, 62}));

    const ProgramResult bad = runProgram({simProgram(), "--trace", dir.file("no/such/folder/t")}, {}, 5000);
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.err.find("cannot write the trace file"), std::string::npos) << bad.err;
}
