#include "platform/agent_platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char markerName[] = "972AC980-E833-4012-81CC-DACA54759B37";

// Each test gets its own runtime folder, so parallel runs never see each other.
class TamselInstanceMarker : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1); }
    halden::test::TempDir runtime {"tamsel-runtime"};
    const agent_platform::Table &os = agent_platform::table();
};

TEST_F(TamselInstanceMarker, SecondInstanceSeesTheFirst)
{
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(markerName);
    ASSERT_NE(marker, nullptr);
    EXPECT_TRUE(os.otherInstanceRunning(markerName));
    EXPECT_FALSE(os.otherInstanceRunning("another-name"));
    os.releaseInstanceMarker(marker);
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
}

TEST_F(TamselInstanceMarker, DiedHolderDoesNotBlockNextStart)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Takes the marker and dies without releasing it.
        _exit(agent_platform::table().createInstanceMarker(markerName) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(halden::test::fileExists(runtime.file(std::string("tamsel-") + markerName + ".lock")));
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(markerName);
    EXPECT_NE(marker, nullptr);
    os.releaseInstanceMarker(marker);
}

// Without XDG_RUNTIME_DIR (cron, ssh, a service) the lock lives in a folder
// of the user's own under TMPDIR or /tmp, never in one file all users share:
// another user's lock at a shared name must not keep this user's agent from
// starting, and a folder or file planted under the user's name is not used.
class TamselLockWithoutRuntimeFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("XDG_RUNTIME_DIR");
        setenv("TMPDIR", tmp.path().c_str(), 1);
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    std::string ownFolder() const { return tmp.file("halden-" + std::to_string(geteuid())); }
    halden::test::TempDir tmp {"tamsel-tmp"};
    const agent_platform::Table &os = agent_platform::table();
};

TEST_F(TamselLockWithoutRuntimeFolder, AnotherUsersLockAtTheOldSharedNameDoesNotBlock)
{
    // Someone holds the name every user's agent used to share.
    const std::string shared = tmp.file(std::string("tamsel-") + markerName + ".lock");
    const int held = open(shared.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);

    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(markerName);
    ASSERT_NE(marker, nullptr);
    struct stat st {};
    ASSERT_EQ(lstat(ownFolder().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(halden::test::fileExists(ownFolder() + "/tamsel-" + markerName + ".lock"));
    EXPECT_TRUE(os.otherInstanceRunning(markerName));
    os.releaseInstanceMarker(marker);
    close(held);
}

struct PlantedCase {
    const char *name;
    bool needsRoot;
    void (*plant)(const std::string &folder, const std::string &victim);
};

class TamselLockPlanted : public TamselLockWithoutRuntimeFolder,
                          public ::testing::WithParamInterface<PlantedCase> {};

TEST_P(TamselLockPlanted, IsNotTakenAndNothingIsFollowed)
{
    if (GetParam().needsRoot && geteuid() != 0)
        GTEST_SKIP() << "a folder of another user's needs root to make";
    const std::string victim = tmp.file("victim");
    halden::test::writeFile(victim, "the victim's file\n");
    GetParam().plant(ownFolder(), victim);

    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    EXPECT_EQ(os.createInstanceMarker(markerName), nullptr);
    EXPECT_EQ(halden::test::readFile(victim), "the victim's file\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TamselLockPlanted,
    ::testing::Values(
        PlantedCase{"FolderOfAnotherUser", true,
                    [](const std::string &folder, const std::string &) {
                        mkdir(folder.c_str(), 0777);
                        chown(folder.c_str(), 65534, 65534);
                    }},
        PlantedCase{"FolderOpenToOthers", false,
                    [](const std::string &folder, const std::string &) {
                        mkdir(folder.c_str(), 0700);
                        chmod(folder.c_str(), 0777);
                    }},
        PlantedCase{"FolderIsALink", false,
                    [](const std::string &folder, const std::string &victim) {
                        symlink((victim + "-folder").c_str(), folder.c_str());
                        mkdir((victim + "-folder").c_str(), 0700);
                    }},
        PlantedCase{"LockIsALink", false,
                    [](const std::string &folder, const std::string &victim) {
                        mkdir(folder.c_str(), 0700);
                        symlink(victim.c_str(), (folder + "/tamsel-" + markerName + ".lock").c_str());
                    }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(TamselInstanceMarker, ARuntimeFolderOpenToOthersIsNotUsed)
{
    chmod(runtime.path().c_str(), 0777);
    EXPECT_EQ(os.createInstanceMarker(markerName), nullptr);
    EXPECT_FALSE(halden::test::fileExists(runtime.file(std::string("tamsel-") + markerName + ".lock")));
    chmod(runtime.path().c_str(), 0700);
}

TEST(TamselOrvelLibraryLoad, AbsentLibraryGivesNull)
{
    // Nothing named libORVEL.so lies beside the test programs.
    const agent_platform::Table &os = agent_platform::table();
    void *library = os.loadOrvelLibrary();
    if (library) {
        GTEST_SKIP() << "a libORVEL.so is on the system search path";
    }
    EXPECT_EQ(os.resolve(nullptr, "ORVL_OpenInterface"), nullptr);
}

} // namespace
