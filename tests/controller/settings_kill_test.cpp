// A save killed at a random point (SIGKILL, as a power cut leaves it) or
// running out of disk: Brimlet.ini is always the old file or the new one,
// byte for byte, and the next start leaves no temporary file behind.
#include "ini_store.h"
#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using halden::test::readFile;
using halden::test::runProgram;
using halden::test::TempDir;
using halden::test::writeFile;

const std::string kHelper = std::string(HALDEN_TEST_BIN_DIR) + "/settings_save_loop";
const std::string kOriginal = "; hand-written\r\n[Broker]\r\nHost=127.0.0.1\r\n[Slot1]\r\nActiveDay=127\r\n";

// Starts the loop and returns once it is saving; its stdout is read to know that.
pid_t startLoop(const std::string &mode, const std::string &path, long limit)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        const std::string limitText = std::to_string(limit);
        execl(kHelper.c_str(), kHelper.c_str(), mode.c_str(), path.c_str(), limitText.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(out[1]);
    char word[16] = {};
    const ssize_t n = read(out[0], word, sizeof word - 1);  // "saving", or end of file
    close(out[0]);
    return n > 0 ? pid : -pid;
}

std::set<std::string> folderEntries(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class KilledSave : public ::testing::TestWithParam<const char *> {};

TEST_P(KilledSave, FileIsOldOrNewAndTheNextStartLeavesNoTemporaryFile)
{
    const std::string mode = GetParam();
    TempDir dir("killed-save");
    // The only contents the file may rightly have: as written, or either version.
    std::set<std::string> allowed{kOriginal};
    for (int version = 0; version < 2; ++version) {
        TempDir once("save-once");
        writeFile(once.file("Brimlet.ini"), kOriginal);
        const auto r = runProgram({kHelper, mode, once.file("Brimlet.ini"), "0", std::to_string(version)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        allowed.insert(readFile(once.file("Brimlet.ini")));
    }
    ASSERT_EQ(allowed.size(), 3u);

    const std::string target = dir.file("Brimlet.ini");
    writeFile(target, kOriginal);
    std::mt19937 random(20261210);
    constexpr int kKills = 500;
    int fullDisk = 0;
    int midSave = 0;  // kills that caught a save with its temporary file open
    for (int i = 0; i < kKills; ++i) {
        // One run in four writes onto a full disk, smaller than any version of
        // the file: every save fails part-way and the file must stay as it was.
        const long limit = (i % 4 == 3) ? long(random() % 60 + 1) : 0;
        fullDisk += limit > 0;
        const std::string before = readFile(target);
        const pid_t pid = startLoop(mode, target, limit);
        ASSERT_GT(pid, 0) << "the save loop did not start";
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        const std::string now = readFile(target);
        ASSERT_EQ(allowed.count(now), 1u) << "kill " << i << " left a torn file:\n" << now;
        if (limit > 0) {
            ASSERT_EQ(now, before) << "a save onto a full disk changed the file";
        }
        midSave += folderEntries(dir.path()).size() > 1;

        // The next start (a load) tidies what the killed writer left.
        ASSERT_TRUE(IniLoad(target.c_str()));
        IniClose();
        ASSERT_EQ(folderEntries(dir.path()), std::set<std::string>{"Brimlet.ini"}) << "after kill " << i;
    }
    std::printf("%d saves killed (%d on a full disk, %d with a temporary file open): the file was always whole\n",
                kKills, fullDisk, midSave);
    EXPECT_GT(midSave, kKills / 10) << "too few kills hit a save to show anything";
}

INSTANTIATE_TEST_SUITE_P(Savers, KilledSave, ::testing::Values("brimlet", "ini"));

// A temporary file that a running writer owns is not taken for a stale one.
TEST(StaleTemps, OnlyThoseOfWritersThatAreGoneAreRemoved)
{
    TempDir dir("stale-temps");
    const std::string target = dir.file("Brimlet.ini");
    writeFile(target, kOriginal);
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string mine = target + ".tmp-" + std::to_string(getpid()) + "-abcdef";
    const std::string dead = target + ".tmp-" + std::to_string(gone) + "-abcdef";
    const std::string other = dir.file("Other.ini.tmp-") + std::to_string(gone) + "-abcdef";
    for (const std::string &path : {mine, dead, other})
        writeFile(path, "partial");
    ASSERT_TRUE(IniLoad(target.c_str()));
    IniClose();
    EXPECT_EQ(folderEntries(dir.path()),
              (std::set<std::string>{"Brimlet.ini", std::filesystem::path(mine).filename().string(),
                                     std::filesystem::path(other).filename().string()}));
}

} // namespace
