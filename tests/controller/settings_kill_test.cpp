// A save killed at a random point (SIGKILL) or running out of disk:
// Brimlet.ini is always the old file or the new one, byte for byte, and the
// next save leaves no temporary file behind. A killed process leaves the page
// cache as it was, so this shows the order of write, rename and tidy-up, not
// that the data reached the disk: a missing fsync would pass here (a power
// cut is what it would fail, and no test here cuts the power).
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
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
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

// Sets a file's (or link's) times back, as if it were left that long ago.
void ageByMinutes(const std::string &path, int minutes)
{
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= minutes * 60;
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::set<std::string> folderEntries(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class KilledSave : public ::testing::TestWithParam<const char *> {};

TEST_P(KilledSave, FileIsOldOrNewAndTheNextSaveLeavesNoTemporaryFile)
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

        // A read never deletes: what the killed writer left stays until a save.
        const std::set<std::string> left = folderEntries(dir.path());
        ASSERT_TRUE(IniLoad(target.c_str()));
        IniClose();
        ASSERT_EQ(folderEntries(dir.path()), left) << "after kill " << i;
    }
    // The next save tidies every temporary the killed writers left, once
    // they are old enough that no save can still be writing them.
    for (const std::string &name : folderEntries(dir.path()))
        if (name != "Brimlet.ini")
            ageByMinutes(dir.file(name), 2);
    ASSERT_TRUE(IniLoad(target.c_str()));
    ASSERT_TRUE(IniSave(target.c_str()));
    IniClose();
    EXPECT_EQ(folderEntries(dir.path()), std::set<std::string>{"Brimlet.ini"});
    std::printf("%d saves killed (%d on a full disk, %d with a temporary file open): the file was always whole\n",
                kKills, fullDisk, midSave);
    EXPECT_GT(midSave, kKills / 10) << "too few kills hit a save to show anything";
}

INSTANTIATE_TEST_SUITE_P(Savers, KilledSave, ::testing::Values("brimlet", "ini"));

struct TempCase {
    const char *name;
    bool removed;  // by a save
};

// Only what the saver itself leaves is tidied away: names exactly as it makes
// them, plain files of the user's own, old, of a writer that is gone. And
// only by a save; loading (brimlet-send --dry-run, any start) deletes nothing.
TEST(StaleTemps, OnlyTheSaversOwnOldTemporariesOfWritersThatAreGoneAreRemovedBeforeASave)
{
    TempDir dir("stale-temps");
    const std::string target = dir.file("Brimlet.ini");
    writeFile(target, kOriginal);
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = "Brimlet.ini.tmp-" + std::to_string(gone);
    const std::string mine = "Brimlet.ini.tmp-" + std::to_string(getpid());
    const TempCase files[] = {
        {"dead writer, old", true},
        {"dead writer, young", false},
        {"live writer, old", false},
        {"another file's", false},
        {"a user's notes with a longer tail", false},
        {"a tail that mkstemp never makes", false},
        {"a link", false},
        {"a folder", false},
    };
    const std::string names[] = {
        dead + "-a1B2c3", dead + "-d4E5f6", mine + "-g7H8i9", "Other.ini.tmp-" + std::to_string(gone) + "-abcdef",
        dead + "-notes.txt", dead + "-ab.def", dead + "-lnk123", dead + "-dir456",
    };
    const std::string victim = dir.file("victim.txt");
    writeFile(victim, "a file the link points at\n");
    for (size_t i = 0; i < std::size(files); ++i) {
        const std::string path = dir.file(names[i]);
        if (std::string(files[i].name) == "a link")
            ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
        else if (std::string(files[i].name) == "a folder")
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        else
            writeFile(path, "partial");
        if (std::string(files[i].name) != "dead writer, young")
            ageByMinutes(path, 2);
    }
    const std::set<std::string> before = folderEntries(dir.path());

    ASSERT_TRUE(IniLoad(target.c_str()));
    EXPECT_EQ(folderEntries(dir.path()), before) << "a load deleted something";
    ASSERT_TRUE(IniSave(target.c_str()));
    IniClose();

    const std::set<std::string> after = folderEntries(dir.path());
    for (size_t i = 0; i < std::size(files); ++i)
        EXPECT_EQ(after.count(names[i]) == 0, files[i].removed) << files[i].name;
    EXPECT_EQ(readFile(victim), "a file the link points at\n");
}

// Another user's leftover (in a folder both may write) is not ours to delete.
TEST(StaleTemps, AnotherUsersTemporaryIsLeftAlone)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a file of another user's needs root to make";
    TempDir dir("stale-temps");
    const std::string target = dir.file("Brimlet.ini");
    writeFile(target, kOriginal);
    const std::string theirs = target + ".tmp-999999999-a1b2c3";
    writeFile(theirs, "partial");
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
    ageByMinutes(theirs, 2);
    ASSERT_TRUE(IniLoad(target.c_str()));
    ASSERT_TRUE(IniSave(target.c_str()));
    IniClose();
    EXPECT_TRUE(halden::test::fileExists(theirs));
}

} // namespace
