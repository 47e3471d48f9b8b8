#pragma once
// Collects the text that programs pass to OutputDebugStringA while no
// debugger is attached, the way debug viewers do: through the shared
// "DBWIN_BUFFER" and its two events. Only lines of this process are kept.
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace win_test {

class DebugMonitor {
public:
    DebugMonitor();
    ~DebugMonitor();
    DebugMonitor(const DebugMonitor &) = delete;
    DebugMonitor &operator=(const DebugMonitor &) = delete;

    bool listening() const { return listening_; }
    std::vector<std::string> lines() const;
    // The writer does not wait for the monitor to take a line, so a caller
    // that just wrote waits here (bounded) until `count` lines have arrived.
    std::vector<std::string> waitForLines(size_t count, DWORD timeoutMs) const;

private:
    void run();

    HANDLE bufferReady_ = NULL, dataReady_ = NULL, mapping_ = NULL;
    const char *view_ = nullptr;
    bool listening_ = false;
    volatile bool stopping_ = false;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::thread thread_;
};

} // namespace win_test
