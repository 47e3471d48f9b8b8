#pragma once
// Another program started from a test, waited for with a bound.
#include <string>
#include <windows.h>

namespace win_test {

// The folder of the running test program, with a trailing backslash.
std::wstring programFolder();

class ChildProcess {
public:
    // Starts program (a file beside the test program) with the given arguments.
    ChildProcess(const std::wstring &program, const std::wstring &arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool started() const { return process_ != NULL; }
    // The exit code once the process has ended within the bound; false when
    // it is still running then.
    bool waitForExit(DWORD milliseconds, DWORD &exitCode);
    // Ends it at once, as a crash would.
    void kill();

private:
    HANDLE process_ = NULL;
};

// Returned by runToExit for a program that did not start (-1 is an exit code).
const DWORD kNotStarted = 0xFFFFFFFE;

// Starts the program and waits for its exit code (bounded); STILL_ACTIVE when
// it did not end, kNotStarted when it did not start.
DWORD runToExit(const std::wstring &program, const std::wstring &arguments);

} // namespace win_test
