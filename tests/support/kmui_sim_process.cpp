#include "kmui_sim_process.h"

#include "temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace halden::test {

namespace {

// Bounded waits; generous because sanitizer builds start slowly.
constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kStopTimeout = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

KmuiSimProcess::KmuiSimProcess(std::vector<std::string> extraArgs, std::string runtimeDir)
    : extraArgs_(std::move(extraArgs)), runtimeDir_(std::move(runtimeDir))
{
    if (runtimeDir_.empty()) {
        ownDir_ = std::make_unique<TempDir>("kmui-sim");
        runtimeDir_ = ownDir_->path();
    }
}

KmuiSimProcess::~KmuiSimProcess()
{
    stop();
}

std::string KmuiSimProcess::programPath()
{
    return HALDEN_BIN_DIR "/kmui-sim";
}

std::string KmuiSimProcess::endpointPath(const std::string &deviceName) const
{
    return runtimeDir_ + "/" + deviceName + ".sock";
}

std::string KmuiSimProcess::pidFilePath() const
{
    return runtimeDir_ + "/kmui-sim.pid";
}

std::string KmuiSimProcess::stateFilePath() const
{
    return runtimeDir_ + "/kmui-sim.state";
}

bool KmuiSimProcess::start()
{
    error_.clear();
    if (running()) {
        error_ = "kmui-sim is already running";
        return false;
    }
    // A pid file left by a killed run would look like a board that is up.
    ::unlink(pidFilePath().c_str());
    std::vector<std::string> args{programPath(), "--runtime-dir", runtimeDir_};
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        error_ = "cannot start " + args[0] + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;

    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "kmui-sim ended during start-up with "
                + (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                     : "signal " + std::to_string(WTERMSIG(status)));
            return false;
        }
        if (exists(pidFilePath()) && exists(endpointPath()))
            return true;
        std::this_thread::sleep_for(kPollInterval);
    }
    error_ = "kmui-sim did not come up in " + runtimeDir_;
    stop();
    return false;
}

int KmuiSimProcess::stop()
{
    if (!running())
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    pid_t done = 0;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
    int result = -1;
    if (done == pid_) {
        result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else if (done == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return result;
}

void KmuiSimProcess::kill()
{
    if (!running())
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

} // namespace halden::test
