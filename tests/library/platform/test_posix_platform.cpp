// The real library against the kmui-sim process: the driver "service" it
// starts and stops itself, and waits that run out on a slow controller.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "kmui_sim_process.h"
#include "orvel.h"
#include "temp_dir.h"

namespace {

using halden::test::KmuiSimProcess;
using halden::test::TempDir;

// Gone, or a zombie no one reaps.
bool processGone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close == std::string::npos || text.compare(close, 3, ") Z") == 0;
}

pid_t readPid(const std::string &path)
{
    std::ifstream in(path);
    long pid = 0;
    in >> pid;
    return pid_t(pid);
}

// Whatever happens in the test, a board the library started does not outlive it.
class StartedBoardGuard {
public:
    explicit StartedBoardGuard(std::string pidFile) : pidFile_(std::move(pidFile)) {}
    ~StartedBoardGuard()
    {
        const pid_t pid = readPid(pidFile_);
        if (pid > 1 && !processGone(pid)) {
            ::kill(pid, SIGKILL);
            for (int i = 0; i < 200 && !processGone(pid); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    std::string pidFile_;
};

TEST(OrvelOnKmuiSim, OpenStartsTheBoardAsAServiceAndCloseStopsIt)
{
    TempDir dir("orvel-service");
    const std::string runtime = dir.path() + "/run";  // missing: the library creates it
    ::setenv("KMUI_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string pidFile = runtime + "/kmui-sim.pid";
    StartedBoardGuard guard(pidFile);

    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    const auto opened = std::chrono::steady_clock::now();
    std::printf("open with service start: %lld ms\n",
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(opened - begin).count());

    const pid_t pid = readPid(pidFile);
    ASSERT_GT(pid, 1);
    EXPECT_FALSE(processGone(pid));
    EXPECT_NE(getsid(pid), getsid(0)) << "the board runs in a session of its own";

    char text[16] = {};
    EXPECT_EQ(ORVL_GetVersionString(text, 16), ORVL_OK);
    EXPECT_STREQ(text, "ORVEL SIM 1.0");
    const ScheduleRecord slot{6, 30, 22, 15, 3, 0x3E};
    EXPECT_EQ(ORVL_SetSchedule3(&slot), ORVL_OK);
    ScheduleRecord back{};
    EXPECT_EQ(ORVL_GetSchedule3(&back), ORVL_OK);
    EXPECT_EQ(back.offMinute, 15);
    EXPECT_EQ(back.activeDays, 0x3E);

    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(processGone(pid));
    EXPECT_FALSE(halden::test::fileExists(pidFile));
    EXPECT_FALSE(halden::test::fileExists(runtime + "/KMUI32_1K.sock"));
}

TEST(OrvelOnKmuiSim, BoardStartedByAProcessOutlivesItWithoutClose)
{
    TempDir dir("orvel-outlive");
    ::setenv("KMUI_RUNTIME_DIR", dir.path().c_str(), 1);
    const std::string pidFile = dir.file("kmui-sim.pid");
    StartedBoardGuard guard(pidFile);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(ORVL_OpenInterface() == ORVL_OK ? 0 : 1);  // ends without ORVL_CloseInterface
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const pid_t pid = readPid(pidFile);
    ASSERT_GT(pid, 1);
    EXPECT_FALSE(processGone(pid));
    // The next user finds it running and uses it as it is.
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_FALSE(processGone(pid));
}

TEST(OrvelOnKmuiSim, RunningBoardIsUsedWithoutStartingAnother)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    uint32_t bitmap = 0;
    EXPECT_EQ(ORVL_GetFeatureBitmap(&bitmap), ORVL_OK);
    EXPECT_EQ(bitmap, 0x0Fu);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);

    // The library did not install it, so closing leaves it running.
    EXPECT_EQ(readPid(sim.pidFilePath()), sim.pid());
    EXPECT_FALSE(processGone(sim.pid()));
    EXPECT_EQ(sim.stop(), 0);
}

TEST(OrvelOnKmuiSim, NeverDoneControllerTimesOutAfterAboutOneSecond)
{
    KmuiSimProcess sim({"--never-done"});
    ASSERT_TRUE(sim.start()) << sim.error();
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);

    uint8_t value = 0;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(ORVL_GetMiscCtrl(&value), ORVL_ERR_TIMEOUT);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(value, 0xFF);
    std::printf("read with a never-done controller: %lld ms (about 1010 expected)\n",
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());

    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(sim.stop(), 0);
}

TEST(OrvelOnKmuiSim, BoardGoneMidSessionRunsOutInsteadOfHanging)
{
    KmuiSimProcess sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(sim.stop(), 0);

    uint8_t value = 0x5A;
    EXPECT_EQ(ORVL_GetMiscCtrl(&value), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
}

} // namespace
