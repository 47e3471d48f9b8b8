#include "tamsel_process.h"

#include "temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace halden::test {

TamselProcess::TamselProcess(std::string program, std::string workDir, std::vector<std::string> env,
                             std::vector<std::string> args)
    : program_(std::move(program)), workDir_(std::move(workDir)), env_(std::move(env)), args_(std::move(args))
{
}

TamselProcess::~TamselProcess() { stop(); }

bool TamselProcess::start()
{
    const std::string errPath = workDir_ + "/tamsel.err";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (chdir(workDir_.c_str()) != 0)
            _exit(127);
        for (const std::string &entry : env_) {
            const std::string::size_type eq = entry.find('=');
            const std::string name = entry.substr(0, eq);
            const std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int out = open((workDir_ + "/tamsel.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (err < 0 || out < 0 || in < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv{const_cast<char *>(program_.c_str())};
        for (std::string &a : args_)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program_.c_str(), argv.data());
        _exit(127);
    }
    pid_ = pid;
    status_ = -1;
    return true;
}

bool TamselProcess::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

int TamselProcess::waitExit(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
}

void TamselProcess::stop()
{
    if (!running())
        return;
    kill(pid_, SIGTERM);
    if (waitExit(3000) == -1 && pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

std::string TamselProcess::errText() const { return readFile(workDir_ + "/tamsel.err"); }

size_t TamselProcess::countInErr(const std::string &needle) const
{
    const std::string text = errText();
    size_t count = 0;
    for (std::string::size_type at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

bool TamselProcess::waitForErr(const std::string &needle, size_t count, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (countInErr(needle) < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace halden::test
