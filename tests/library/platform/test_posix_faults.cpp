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
        {"GetVersionString", [] { return ORVL_GetVersionString(text, sizeof text); }},
        {"GetFeatureBitmap", [] { return ORVL_GetFeatureBitmap(&bitmap); }},
        {"GetRTC", [] { return ORVL_GetRTC(&rtc); }},
        {"SetRTC", [] { return ORVL_SetRTC(&rtc); }},
        {"GetPwrResume", [] { return ORVL_GetPwrResume(&enabled); }},
        {"SetPwrResume", [] { return ORVL_SetPwrResume(&enabled); }},
        {"GetSchedule1", [] { return ORVL_GetSchedule1(&slot); }},
        {"GetSchedule2", [] { return ORVL_GetSchedule2(&slot); }},
        {"GetSchedule3", [] { return ORVL_GetSchedule3(&slot); }},
        {"GetSchedule4", [] { return ORVL_GetSchedule4(&slot); }},
        {"SetSchedule3", [] { return ORVL_SetSchedule3(&slot); }},
        {"SetSchedule4", [] { return ORVL_SetSchedule4(&slot); }},
        {"SMBusRead", [] { return ORVL_SMBusRead(0xAE, 0x19, &value); }},
        {"SMBusWrite", [] { return ORVL_SMBusWrite(0xA0, 0x10, &value); }},
        {"GetMiscCtrl", [] { return ORVL_GetMiscCtrl(&value); }},
        {"SetMiscCtrl", [] { return ORVL_SetMiscCtrl(&value); }},
        {"SetPwrOnAfterShutdownTick", [] { return ORVL_SetPwrOnAfterShutdownTick(&value); }},
    };
}

struct FirmwareFault {
    const char *name;
    std::vector<std::string> options;
    int32_t openStatus;
};

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
        EXPECT_TRUE(documented(status)) << e.name << " returned " << status;
        std::printf("%-26s status %d in %lld ms\n", e.name, int(status), msSince(begin));
    }
    std::printf("every export with %s: %lld ms\n", GetParam().name, msSince(all));
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(sim.running()) << "the board survived the run";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyFirmware,
    ::testing::Values(FirmwareFault{"NeverReady", {"--never-ready"}, ORVL_OK},
                      FirmwareFault{"NeverDone", {"--never-done"}, ORVL_OK},
                      FirmwareFault{"GarbageReplies", {"--garbage-replies"}, ORVL_OK},
                      FirmwareFault{"ServiceCheckFails", {"--fail-service-check"}, ORVL_ERR_NOT_VERIFIED},
                      FirmwareFault{"NoTable", {"--no-table"}, ORVL_ERR_NOT_VERIFIED}),
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
