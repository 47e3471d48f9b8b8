// The private folder check on its own: what a user who can write to /tmp can
// plant under a folder's name, and what is refused.
#include "temp_dir.h"

extern "C" {
#include "private_folder.h"
}

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using halden::test::TempDir;
using halden::test::fileExists;
using halden::test::readFile;
using halden::test::writeFile;

namespace {

// A uid that is not ours, for folders "someone else" made; only root can
// hand a folder to another user.
constexpr uid_t kOtherUid = 65534;

struct FolderCase {
    const char *name;
    // Makes what is found under `path`; returns false to skip (with why).
    bool (*plant)(const std::string &path, const TempDir &dir, std::string &skip);
    const char *refusal; // "" when the folder is to be taken
};

bool privateFolder(const std::string &path, const TempDir &, std::string &)
{
    return mkdir(path.c_str(), 0700) == 0;
}

bool missing(const std::string &, const TempDir &, std::string &)
{
    return true;
}

bool openToGroup(const std::string &path, const TempDir &, std::string &)
{
    return mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 0770) == 0;
}

bool openToAll(const std::string &path, const TempDir &, std::string &)
{
    return mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 01777) == 0;
}

bool ownedByAnother(const std::string &path, const TempDir &, std::string &skip)
{
    if (geteuid() != 0) {
        skip = "only root can make a folder that belongs to another user";
        return false;
    }
    return mkdir(path.c_str(), 0700) == 0 && chown(path.c_str(), kOtherUid, kOtherUid) == 0;
}

bool linkToOurFolder(const std::string &path, const TempDir &dir, std::string &)
{
    return mkdir(dir.file("real").c_str(), 0700) == 0 && symlink(dir.file("real").c_str(), path.c_str()) == 0;
}

bool danglingLink(const std::string &path, const TempDir &dir, std::string &)
{
    return symlink(dir.file("not-there").c_str(), path.c_str()) == 0;
}

bool aFile(const std::string &path, const TempDir &, std::string &)
{
    writeFile(path, "x");
    return true;
}

class PrivateFolderCheck : public ::testing::TestWithParam<FolderCase> {};

TEST_P(PrivateFolderCheck, TakesOnlyAFolderOfOurOwnClosedToOthers)
{
    TempDir dir("private-folder");
    const std::string path = dir.file("run");
    std::string skip;
    if (!GetParam().plant(path, dir, skip)) {
        if (!skip.empty())
            GTEST_SKIP() << skip;
        FAIL() << "could not set the case up: " << std::strerror(errno);
    }
    struct stat before {};
    const bool existed = lstat(path.c_str(), &before) == 0;

    char why[512] = "";
    const int fd = privateFolderOpen(path.c_str(), 1, why, sizeof why);
    const std::string refusal = GetParam().refusal;
    if (refusal.empty()) {
        ASSERT_GE(fd, 0) << why;
        struct stat st {};
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        close(fd);
        return;
    }
    EXPECT_EQ(fd, -1);
    EXPECT_NE(std::string(why).find(path), std::string::npos) << why;
    EXPECT_NE(std::string(why).find(refusal), std::string::npos) << why;
    // Refused, never "repaired": what was there is as it was.
    struct stat after {};
    ASSERT_EQ(lstat(path.c_str(), &after) == 0, existed);
    if (existed) {
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrivateFolderCheck,
    ::testing::Values(FolderCase{"OurOwnPrivate", privateFolder, ""},
                      FolderCase{"MissingIsCreatedPrivate", missing, ""},
                      FolderCase{"OpenToTheGroup", openToGroup, "open to other users (mode 0770"},
                      FolderCase{"OpenToAllStickyLikeTmp", openToAll, "open to other users (mode 1777"},
                      FolderCase{"BelongsToAnotherUser", ownedByAnother, "belongs to uid 65534"},
                      FolderCase{"LinkToAFolderOfOurs", linkToOurFolder, "is a symbolic link"},
                      FolderCase{"DanglingLink", danglingLink, "is a symbolic link"},
                      FolderCase{"AFile", aFile, "is not a folder"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PrivateFolder, MissingIsNotCreatedWhenOnlyLookedAt)
{
    TempDir dir("private-folder");
    char why[512] = "";
    EXPECT_EQ(privateFolderOpen(dir.file("run").c_str(), 0, why, sizeof why), -1);
    EXPECT_FALSE(fileExists(dir.file("run")));
    EXPECT_NE(std::string(why).find("cannot use"), std::string::npos) << why;
}

// A link planted under a file's name is refused, not followed, and a write
// replaces the link itself: the file it points at stays as it was.
TEST(PrivateFolder, FilesInsideAreNeverReachedThroughALink)
{
    TempDir dir("private-folder");
    const std::string victim = dir.file("victim");
    writeFile(victim, "precious\n");
    ASSERT_EQ(mkdir(dir.file("run").c_str(), 0700), 0);
    ASSERT_EQ(symlink(victim.c_str(), dir.file("run/log").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), dir.file("run/pid").c_str()), 0);
    const std::string tempName = "run/.pid.tmp-" + std::to_string(getpid());
    ASSERT_EQ(symlink(victim.c_str(), dir.file(tempName).c_str()), 0);

    char why[512] = "";
    const int folder = privateFolderOpen(dir.file("run").c_str(), 0, why, sizeof why);
    ASSERT_GE(folder, 0) << why;
    EXPECT_EQ(privateFolderOpenFile(folder, "log", O_WRONLY | O_APPEND | O_CREAT, 0600), -1);
    EXPECT_EQ(errno, ELOOP);
    ASSERT_EQ(privateFolderWriteFile(folder, "pid", "42\n", 3, 0644), 1) << std::strerror(errno);
    close(folder);

    EXPECT_EQ(readFile(victim), "precious\n");
    struct stat st {};
    ASSERT_EQ(lstat(dir.file("run/pid").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link itself was replaced";
    EXPECT_EQ(readFile(dir.file("run/pid")), "42\n");
    EXPECT_FALSE(fileExists(dir.file(tempName))) << "no temporary is left";
}

} // namespace
