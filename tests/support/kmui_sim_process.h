#pragma once
// Runs the simulated board, kmui-sim, as a child process for one test.
//
//   halden::test::KmuiSimProcess sim({"--ready-after", "3"});
//   ASSERT_TRUE(sim.start()) << sim.error();
//   setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);  // the test's own business
//   ...
//   EXPECT_EQ(sim.stop(), 0);   // optional: the destructor stops it too
//   sim.kill();                 // or dies at once, as in a crash
//
// The board serves its sockets in runtimeDir(): the folder given, or a fresh
// temporary one owned (and removed) by this object. start() returns once the
// pid file and the KMUI32_1K endpoint exist, or false after a bounded wait
// (error() says why). stop() sends SIGTERM, waits bounded, then SIGKILLs.
// start() again after stop() restarts the board on the same folder, so its
// state file carries over. Nothing global is changed.
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace halden::test {

class TempDir;

class KmuiSimProcess {
public:
    explicit KmuiSimProcess(std::vector<std::string> extraArgs = {}, std::string runtimeDir = {});
    ~KmuiSimProcess();
    KmuiSimProcess(const KmuiSimProcess &) = delete;
    KmuiSimProcess &operator=(const KmuiSimProcess &) = delete;

    bool start();
    // Exit status of the board (0 after a clean SIGTERM), or -1 when it had
    // to be killed, died by a signal, or was not running.
    int stop();
    // SIGKILL, as a crash: the board leaves its sockets and pid file behind.
    void kill();
    bool running() const { return pid_ > 0; }

    const std::string &runtimeDir() const { return runtimeDir_; }
    pid_t pid() const { return pid_; }
    std::string endpointPath(const std::string &deviceName = "KMUI32_1K") const;
    std::string pidFilePath() const;
    std::string stateFilePath() const;
    const std::string &error() const { return error_; }

    // Replaces the options used by the next start().
    void setExtraArgs(std::vector<std::string> extraArgs) { extraArgs_ = std::move(extraArgs); }

    static std::string programPath();

private:
    std::vector<std::string> extraArgs_;
    std::unique_ptr<TempDir> ownDir_;
    std::string runtimeDir_;
    pid_t pid_ = -1;
    std::string error_;
};

} // namespace halden::test
