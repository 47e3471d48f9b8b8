// kmui-sim with several processes on one board at once: each open device
// handle gets whole SMBus transactions, and a handle that goes away mid-way
// does not keep the bus.
#include "firmware_client.h"
#include "kmui_sim_process.h"
#include "run_program.h"
#include "sim_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace halden::test;

namespace {

constexpr uint32_t kReady = 0x00010000u;

FirmwareClient clientOver(SimSocket &socket)
{
    return FirmwareClient([&socket](uint32_t c, std::vector<uint8_t> &b) {
        if (!socket.request(c, b))
            b.clear();
    });
}

// Ready queries with pauses in between, as the library makes them; true
// once the bit shows.
bool readyWithin(FirmwareClient &client, int queries)
{
    for (int n = 0; n < queries; ++n) {
        if (client.call(kReady, 0).eax & 1)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

const std::string kOrvelctl = HALDEN_BIN_DIR "/orvelctl";

std::string scheduleJson(const int (&bytes)[6])
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "{\"onHour\":%d,\"onMinute\":%d,\"offHour\":%d,\"offMinute\":%d,\"enableFlags\":%d,"
                  "\"activeDays\":%d}\n",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
    return text;
}

// What one orvelctl loop saw; checked on the test's own thread.
struct LoopReport {
    std::vector<std::string> faults;
    double seconds = 0;
};

// Sets the schedule to a record of its own each round and reads it back.
LoopReport setAndGetLoop(const KmuiSimProcess &sim, int schedule, int rounds)
{
    LoopReport report;
    const auto began = std::chrono::steady_clock::now();
    const std::vector<std::string> env{"KMUI_RUNTIME_DIR=" + sim.runtimeDir()};
    const std::string number = std::to_string(schedule);
    for (int round = 0; round < rounds; ++round) {
        const int record[6] = {round, 10 + round, 20 + schedule, 59 - round, round % 4, (round * 13 + schedule) & 0x7F};
        std::vector<std::string> set{kOrvelctl, "schedule", "set", number, "--raw"};
        for (int b : record)
            set.push_back(std::to_string(b));
        ProgramResult r = runProgram(set, env);
        if (r.exitCode != 0)
            report.faults.push_back("set " + number + " round " + std::to_string(round) + ": " + r.err);
        r = runProgram({kOrvelctl, "--json", "schedule", "get", number}, env);
        if (r.exitCode != 0 || r.out != scheduleJson(record))
            report.faults.push_back("get " + number + " round " + std::to_string(round) + ": expected " +
                                    scheduleJson(record) + " got " + r.out + r.err);
    }
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return report;
}

} // namespace

TEST(KmuiSimSharedBus, SecondHandleWaitsForTheFirstsTransaction)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket first(sim.endpointPath()), second(sim.endpointPath("KMUI64_1K"));
    ASSERT_TRUE(first.connected() && second.connected());
    auto a = clientOver(first), b = clientOver(second);
    ASSERT_TRUE(a.write(0xAE, 0x80, 0x3C));
    ASSERT_TRUE(readyWithin(a, 1));
    EXPECT_FALSE(readyWithin(b, 3));
    a.call(0x00020100u + 0xAE, 0x80 << 8);
    EXPECT_FALSE(readyWithin(b, 3));
    uint8_t value = 0;
    ASSERT_EQ(a.waitDone(&value), 1);
    EXPECT_EQ(value, 0x3C);
    EXPECT_TRUE(readyWithin(b, 1));
}

TEST(KmuiSimSharedBus, ClosedHandleReleasesTheBus)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimSocket waiting(sim.endpointPath());
    ASSERT_TRUE(waiting.connected());
    auto b = clientOver(waiting);
    {
        SimSocket holding(sim.endpointPath());
        auto a = clientOver(holding);
        ASSERT_TRUE(readyWithin(a, 1));
        a.call(0x00020000u + 0xAE, 0x80 << 8 | 0x47);  // started, never asked for done
        EXPECT_FALSE(readyWithin(b, 3));
    }
    // The board learns of the close in its own time; the wait is bounded.
    EXPECT_TRUE(readyWithin(b, 400));
    b.call(0x00020100u + 0xAE, 0x80 << 8);
    uint8_t value = 0;
    ASSERT_EQ(b.waitDone(&value), 1);
    EXPECT_EQ(value, 0x47);
}

// Two orvelctl loops on one board, each on its own schedule: every record read
// back is the one that loop wrote, whole.
TEST(KmuiSimSharedBus, ConcurrentOrvelctlRunsNeverTearARecord)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    constexpr int kRounds = 10;
    LoopReport third, fourth;
    std::thread other([&] { fourth = setAndGetLoop(sim, 4, kRounds); });
    third = setAndGetLoop(sim, 3, kRounds);
    other.join();
    for (const LoopReport *report : {&third, &fourth})
        for (const std::string &fault : report->faults)
            ADD_FAILURE() << fault;
    std::printf("[ figures  ] two orvelctl loops of %d set+get rounds on one board: %.1f s and %.1f s\n", kRounds,
                third.seconds, fourth.seconds);
}
