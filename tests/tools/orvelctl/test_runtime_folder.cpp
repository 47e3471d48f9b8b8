// orvelctl (and the library under it) as the victim of another local user:
// the board's runtime folder under a predictable name was made, or filled, by
// someone else. Every case ends in one clear line, no file outside the folder
// is touched, and no request reaches a board that is not the user's own.
#include "kmui_sim_process.h"
#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace halden::test;

namespace {

const std::string kOrvelctl = HALDEN_BIN_DIR "/orvelctl";
constexpr uid_t kAttacker = 65534;

// The victim's files an attacker points links at.
struct Victims {
    explicit Victims(const TempDir &dir) : dir(dir)
    {
        for (const char *name : {"notes", "thesis", "mail"})
            writeFile(path(name), std::string(name) + " of the victim\n");
    }
    std::string path(const std::string &name) const { return dir.file("victim-" + name); }
    bool untouched() const
    {
        for (const char *name : {"notes", "thesis", "mail"})
            if (readFile(path(name)) != std::string(name) + " of the victim\n")
                return false;
        return true;
    }
    const TempDir &dir;
};

// Links named like the files the library and the board write in the folder.
void plantLinks(const std::string &folder, const Victims &victims)
{
    symlink(victims.path("notes").c_str(), (folder + "/kmui-sim.pid").c_str());
    symlink(victims.path("thesis").c_str(), (folder + "/kmui-sim.state").c_str());
    symlink(victims.path("mail").c_str(), (folder + "/kmui-sim.state.tmp").c_str());
}

struct RefusedCase {
    const char *name;
    bool needsRoot;
    // Makes the folder at path as the attacker left it.
    void (*make)(const std::string &path, const TempDir &dir);
    const char *reason;
};

void ownedByAttacker(const std::string &path, const TempDir &)
{
    mkdir(path.c_str(), 0777);
    chmod(path.c_str(), 0777);
    chown(path.c_str(), kAttacker, kAttacker);
}

void privateButTheAttackers(const std::string &path, const TempDir &)
{
    mkdir(path.c_str(), 0700);
    chown(path.c_str(), kAttacker, kAttacker);
}

void groupWritable(const std::string &path, const TempDir &)
{
    mkdir(path.c_str(), 0700);
    chmod(path.c_str(), 0770);
}

void linkToAFolder(const std::string &path, const TempDir &dir)
{
    mkdir(dir.file("elsewhere").c_str(), 0700);
    symlink(dir.file("elsewhere").c_str(), path.c_str());
}

class RefusedRuntimeFolder : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedRuntimeFolder, OrvelctlSaysWhyInOneLineAndTouchesNothing)
{
    if (GetParam().needsRoot && geteuid() != 0)
        GTEST_SKIP() << "the attacker side needs another uid, which only root can take";
    TempDir dir("orvelctl-folder");
    const Victims victims(dir);
    const std::string folder = dir.file("kmui-victim");
    GetParam().make(folder, dir);
    // What the attacker plants inside, where the folder lets him.
    struct stat st {};
    if (lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        chmod(folder.c_str(), 0777);
        plantLinks(folder, victims);
        chmod(folder.c_str(), st.st_mode & 07777);
    }

    const ProgramResult r = runProgram({kOrvelctl, "schedule", "set", "3", "--days", "mon", "--on", "07:00"},
                                       {"KMUI_RUNTIME_DIR=" + folder}, 30000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.rfind("orvelctl: the board's runtime folder is refused: " + folder, 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_TRUE(victims.untouched());
    EXPECT_FALSE(fileExists(folder + "/kmui-sim.log")) << "no board was started there";

    // The board itself refuses the folder just the same.
    const ProgramResult sim = runProgram({KmuiSimProcess::programPath(), "--runtime-dir", folder}, {}, 30000);
    EXPECT_EQ(sim.exitCode, 1) << sim.err;
    EXPECT_EQ(sim.err.rfind("kmui-sim: the runtime folder is refused: " + folder, 0), 0u) << sim.err;
    EXPECT_TRUE(victims.untouched());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedRuntimeFolder,
    ::testing::Values(RefusedCase{"MadeOpenByAnotherUser", true, ownedByAttacker, "belongs to uid 65534"},
                      RefusedCase{"PrivateToAnotherUser", true, privateButTheAttackers, "belongs to uid 65534"},
                      RefusedCase{"GroupWritable", false, groupWritable, "open to other users (mode 0770"},
                      RefusedCase{"LinkToAFolder", false, linkToAFolder, "is a symbolic link"}),
    [](const auto &info) { return std::string(info.param.name); });

// A folder of the user's own that still holds links named like the board's
// files (left from when it was open, or made by mistake): the board runs and
// the schedule is written, but no link is followed.
TEST(RuntimeFolderLinks, InsideAFolderOfOurOwnAreReplacedNotFollowed)
{
    TempDir dir("orvelctl-folder");
    const Victims victims(dir);
    const std::string folder = dir.file("run");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    plantLinks(folder, victims);

    const ProgramResult set = runProgram({kOrvelctl, "schedule", "set", "3", "--days", "mon", "--on", "07:00"},
                                         {"KMUI_RUNTIME_DIR=" + folder}, 30000);
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_TRUE(victims.untouched());

    // A link where the board's log goes: the board is not started at all.
    TempDir other("orvelctl-folder");
    const Victims more(other);
    const std::string second = other.file("run");
    ASSERT_EQ(mkdir(second.c_str(), 0700), 0);
    ASSERT_EQ(symlink(more.path("notes").c_str(), (second + "/kmui-sim.log").c_str()), 0);
    const ProgramResult r = runProgram({kOrvelctl, "version"}, {"KMUI_RUNTIME_DIR=" + second}, 30000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find(second + "/kmui-sim.log"), std::string::npos) << r.err;
    EXPECT_TRUE(more.untouched());
}

// A board served by another user from a socket in our folder: the library
// checks who is at the other end before it sends anything.
TEST(RuntimeFolderPeer, ASocketServedByAnotherUserGetsNoRequest)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the stand-in board must run as another uid, which only root can take";
    TempDir dir("orvelctl-peer");
    const std::string folder = dir.file("run");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string socketPath = folder + "/KMUI32_1K.sock";

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The stand-in: bound by root in the folder, listening as the
        // attacker (the peer's credentials are those of listen()); counts
        // what arrives until the test closes its end of the pipe.
        close(report[0]);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socketPath.c_str());
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || setresgid(kAttacker, kAttacker, kAttacker) != 0 || setresuid(kAttacker, kAttacker, kAttacker) != 0
            || listen(fd, 8) != 0)
            _exit(2);
        long received = 0;
        if (write(report[1], &received, sizeof received) != sizeof received)
            _exit(3);
        std::vector<int> clients;
        for (;;) {
            std::vector<pollfd> fds{{fd, POLLIN, 0}, {report[1], POLLERR, 0}};
            for (int c : clients)
                fds.push_back({c, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 200) < 0)
                break;
            if (fds[1].revents & (POLLERR | POLLHUP))
                break;
            if (fds[0].revents & POLLIN)
                clients.push_back(accept(fd, nullptr, nullptr));
            for (size_t i = 2; i < fds.size(); ++i) {
                char buf[256];
                if (fds[i].revents & POLLIN) {
                    const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                    if (n > 0)
                        received += n;
                }
            }
        }
        _exit(received > 0 ? 10 : 0);
    }
    close(report[1]);
    long ready = -1;
    ASSERT_EQ(read(report[0], &ready, sizeof ready), static_cast<ssize_t>(sizeof ready)) << "the stand-in did not start";

    const ProgramResult r = runProgram({kOrvelctl, "version"}, {"KMUI_RUNTIME_DIR=" + folder}, 30000);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "orvelctl: the board's socket " + socketPath + " is served by uid 65534, not by uid 0 or root\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the stand-in received a request";
}

} // namespace
