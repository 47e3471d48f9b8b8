#include "debug_monitor.h"

#include <cstring>

namespace win_test {

namespace {
// The buffer: the writer's process id, then the text, zero-terminated.
const DWORD kBufferSize = 4096;
}

DebugMonitor::DebugMonitor()
{
    bufferReady_ = CreateEventW(NULL, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    dataReady_ = CreateEventW(NULL, FALSE, FALSE, L"DBWIN_DATA_READY");
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
    if (mapping_)
        view_ = static_cast<const char *>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kBufferSize));
    listening_ = bufferReady_ && dataReady_ && view_;
    if (listening_) {
        thread_ = std::thread([this] { run(); });
        SetEvent(bufferReady_);
    }
}

DebugMonitor::~DebugMonitor()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (view_)
        UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, dataReady_, bufferReady_})
        if (h)
            CloseHandle(h);
}

std::vector<std::string> DebugMonitor::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<std::string> DebugMonitor::waitForLines(size_t count, DWORD timeoutMs) const
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        std::vector<std::string> current = lines();
        if (current.size() >= count || GetTickCount64() >= deadline)
            return current;
        Sleep(10);
    }
}

void DebugMonitor::run()
{
    while (!stopping_) {
        if (WaitForSingleObject(dataReady_, 50) != WAIT_OBJECT_0)
            continue;
        DWORD pid;
        std::memcpy(&pid, view_, sizeof pid);
        const char *text = view_ + sizeof pid;
        const std::string line(text, strnlen(text, kBufferSize - sizeof pid));
        if (pid == GetCurrentProcessId()) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        }
        SetEvent(bufferReady_);
    }
}

} // namespace win_test
