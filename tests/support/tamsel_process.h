#pragma once
// Runs the agent program in its own working folder for one test, with its
// diagnostic output collected in a file there. The process is ended by the
// destructor (SIGTERM, bounded wait, SIGKILL) and dies with the test process.
#include <string>
#include <sys/types.h>
#include <vector>

namespace halden::test {

class TamselProcess {
public:
    // env entries "NAME=value" are set for the child; "NAME=" with nothing
    // after the sign removes NAME from its environment. args follow the
    // program's name (the programs take none; a reference program may).
    TamselProcess(std::string program, std::string workDir, std::vector<std::string> env,
                  std::vector<std::string> args = {});
    ~TamselProcess();
    TamselProcess(const TamselProcess &) = delete;
    TamselProcess &operator=(const TamselProcess &) = delete;

    bool start();
    bool running();
    pid_t pid() const { return pid_; }
    // Exit status once it ended within timeoutMs; -1 when it is still running
    // or died by a signal.
    int waitExit(int timeoutMs);
    void stop();

    std::string errText() const;
    // Polls the diagnostic output until needle occurs `count` times.
    bool waitForErr(const std::string &needle, size_t count, int timeoutMs) const;
    size_t countInErr(const std::string &needle) const;

private:
    std::string program_;
    std::string workDir_;
    std::vector<std::string> env_;
    std::vector<std::string> args_;
    pid_t pid_ = -1;
    int status_ = -1;
};

} // namespace halden::test
