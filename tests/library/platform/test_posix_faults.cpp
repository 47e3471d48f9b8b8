// The real library against a kmui-sim process that fails: a board killed in
// the middle of schedule writes and started again, and firmware that never
// gets ready, never finishes or answers noise. Every export returns one of
// its statuses within its bounded wait; nothing hangs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kmui_sim_process.h"
#include "orvel.h"

namespace {

using halden::test::KmuiSimProcess;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point begin)
{
    return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}

bool documented(int32_t status)
{
    return status == ORVL_OK || status == ORVL_ERR_NO_SESSION || status == ORVL_ERR_NOT_VERIFIED
           || status == ORVL_ERR_TIMEOUT || status == ORVL_ERR_PROTECTED || status == ORVL_ERR_NULL_POINTER;
}

struct ExportCall {
    const char *name;
    std::function<int32_t()> call;
    // SMBus byte transactions the export makes at most (the reference for its
    // wait): the version text is 16 reads, the clock a read-modify-write of
    // the hold bit on each side of its six bytes, a schedule six bytes.
    int transactions;
};

// Every export past the open, with harmless arguments.
std::vector<ExportCall> everyExport()
{
    static char text[16];
    static uint32_t bitmap;
    static RtcRecord rtc{{0, 0, 12, 1, 6, 26}};
    static int32_t enabled = 1;
    static ScheduleRecord slot{7, 0, 19, 0, 3, 0x3E};
    static uint8_t value = 0;
    return {
        {"GetVersionString", [] { return ORVL_GetVersionString(text, sizeof text); }, 16},
        {"GetFeatureBitmap", [] { return ORVL_GetFeatureBitmap(&bitmap); }, 1},
        {"GetRTC", [] { return ORVL_GetRTC(&rtc); }, 2 + 6 + 2},
        {"SetRTC", [] { return ORVL_SetRTC(&rtc); }, 2 + 6 + 2},
        {"GetPwrResume", [] { return ORVL_GetPwrResume(&enabled); }, 1},
        {"SetPwrResume", [] { return ORVL_SetPwrResume(&enabled); }, 2},
        {"GetSchedule1", [] { return ORVL_GetSchedule1(&slot); }, 6},
        {"GetSchedule2", [] { return ORVL_GetSchedule2(&slot); }, 6},
        {"GetSchedule3", [] { return ORVL_GetSchedule3(&slot); }, 6},
        {"GetSchedule4", [] { return ORVL_GetSchedule4(&slot); }, 6},
        {"SetSchedule3", [] { return ORVL_SetSchedule3(&slot); }, 6},
        {"SetSchedule4", [] { return ORVL_SetSchedule4(&slot); }, 6},
        {"SMBusRead", [] { return ORVL_SMBusRead(0xAE, 0x19, &value); }, 1},
        // A protected device: refused before the bus is touched.
        {"SMBusWrite", [] { return ORVL_SMBusWrite(0xA0, 0x10, &value); }, 0},
        {"GetMiscCtrl", [] { return ORVL_GetMiscCtrl(&value); }, 1},
        {"SetMiscCtrl", [] { return ORVL_SetMiscCtrl(&value); }, 1},
        {"SetPwrOnAfterShutdownTick", [] { return ORVL_SetPwrOnAfterShutdownTick(&value); }, 1},
    };
}

// One wait is at most 100 queries with a 10 ms pause after each but the
// last; a transaction waits twice (ready, done) with one pause between.
constexpr long long kWaitMs = 99 * 10;
constexpr long long kTransactionMs = 2 * kWaitMs + 10;

struct FirmwareFault {
    const char *name;
    std::vector<std::string> options;
    int32_t openStatus;
    // What every export on the bus must return; -1: any documented status.
    int32_t busStatus;
    // Waits an export sits through before its status is known: a board that
    // never gets ready or never finishes fails the first transaction after
    // one wait; one that answers noise may run every transaction through.
    long long (*boundMs)(int transactions);
};

long long oneWait(int transactions) { return transactions > 0 ? kWaitMs + 2 * 10 : 0; }
long long everyTransaction(int transactions) { return transactions * kTransactionMs; }
long long noWait(int) { return 0; }

class FaultyFirmware : public ::testing::TestWithParam<FirmwareFault> {};

TEST_P(FaultyFirmware, EveryExportReturnsItsStatusWithinItsWait)
{
    KmuiSimProcess sim(GetParam().options);
    ASSERT_TRUE(sim.start()) << sim.error();
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);
    EXPECT_EQ(ORVL_OpenInterface(), GetParam().openStatus);

    const auto all = Clock::now();
    for (const ExportCall &e : everyExport()) {
        const auto begin = Clock::now();
        const int32_t status = e.call();
        const long long took = msSince(begin);
        EXPECT_TRUE(documented(status)) << e.name << " returned " << status;
        if (e.transactions == 0) {
            EXPECT_EQ(status, ORVL_ERR_PROTECTED) << e.name;
        } else if (GetParam().busStatus >= 0) {
            EXPECT_EQ(status, GetParam().busStatus) << e.name << ": a board that cannot answer gave " << status;
        }
        // Slack for the sanitizers and a loaded machine: a quarter more and half a second.
        const long long bound = GetParam().boundMs(e.transactions);
        EXPECT_LE(took, bound + bound / 4 + 500) << e.name << " waited past its " << bound << " ms";
        std::printf("%-26s status %d in %lld ms (bound %lld ms)\n", e.name, int(status), took, bound);
    }
    std::printf("every export with %s: %lld ms\n", GetParam().name, msSince(all));
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(sim.running()) << "the board survived the run";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyFirmware,
    ::testing::Values(
        FirmwareFault{"NeverReady", {"--never-ready"}, ORVL_OK, ORVL_ERR_TIMEOUT, oneWait},
        FirmwareFault{"NeverDone", {"--never-done"}, ORVL_OK, ORVL_ERR_TIMEOUT, oneWait},
        FirmwareFault{"GarbageReplies", {"--garbage-replies"}, ORVL_OK, -1, everyTransaction},
        FirmwareFault{"ServiceCheckFails", {"--fail-service-check"}, ORVL_ERR_NOT_VERIFIED, ORVL_ERR_NOT_VERIFIED,
                      noWait},
        FirmwareFault{"NoTable", {"--no-table"}, ORVL_ERR_NOT_VERIFIED, ORVL_ERR_NOT_VERIFIED, noWait}),
    [](const auto &info) { return std::string(info.param.name); });

// The driver's handle outlives a driver restart: once the board is back, the
// session that saw it die works again without being opened anew.
TEST(BoardKilled, MidScheduleWriteTheExportRunsOutAndTheNextWriteLandsAfterARestart)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);

    // Writes run back to back while the board is killed under them.
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::atomic<long long> slowestAfterKill{0};
    std::atomic<bool> killed{false};
    std::thread writer([&] {
        for (uint8_t minute = 0; !stop; minute = uint8_t((minute + 1) % 60)) {
            const ScheduleRecord slot{6, minute, 22, 0, 3, 0x7F};
            const auto begin = Clock::now();
            const bool afterKill = killed;
            const int32_t status = ORVL_SetSchedule3(&slot);
            EXPECT_TRUE(status == ORVL_OK || status == ORVL_ERR_TIMEOUT) << status;
            if (afterKill)
                slowestAfterKill = std::max<long long>(slowestAfterKill, msSince(begin));
            ++writes;
        }
    });
    while (writes < 3)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    sim.kill();
    killed = true;
    const int before = writes;
    // With the board gone each write fails at once instead of waiting out
    // every query of every transaction.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (writes < before + 5 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    stop = true;
    writer.join();
    EXPECT_GE(writes, before + 5) << "writes stall with the board gone";
    std::printf("slowest schedule write after the kill: %lld ms\n", (long long)slowestAfterKill);

    const ScheduleRecord gone{5, 5, 5, 5, 3, 0x01};
    EXPECT_EQ(ORVL_SetSchedule3(&gone), ORVL_ERR_TIMEOUT);

    ASSERT_TRUE(sim.start()) << sim.error();
    const ScheduleRecord wanted{7, 45, 23, 15, 3, 0x41};
    EXPECT_EQ(ORVL_SetSchedule3(&wanted), ORVL_OK);
    ScheduleRecord back{};
    EXPECT_EQ(ORVL_GetSchedule3(&back), ORVL_OK);
    EXPECT_EQ(back.onMinute, 45);
    EXPECT_EQ(back.offMinute, 15);
    EXPECT_EQ(back.activeDays, 0x41);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
}

} // namespace
