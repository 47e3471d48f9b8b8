#include "child_process.h"

#include <vector>

namespace win_test {

namespace {
const DWORD kExitBound = 30000;
}

std::wstring programFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

ChildProcess::ChildProcess(const std::wstring &program, const std::wstring &arguments)
{
    const std::wstring path = programFolder() + program;
    std::wstring line = L"\"" + path + L"\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(path.c_str(), buffer.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
}

ChildProcess::~ChildProcess()
{
    if (!process_)
        return;
    DWORD code;
    if (!waitForExit(0, code))
        kill();
    CloseHandle(process_);
}

bool ChildProcess::waitForExit(DWORD milliseconds, DWORD &exitCode)
{
    if (!process_ || WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process_, &exitCode) != 0;
}

void ChildProcess::kill()
{
    if (!process_)
        return;
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, kExitBound);
}

DWORD runToExit(const std::wstring &program, const std::wstring &arguments)
{
    ChildProcess child(program, arguments);
    if (!child.started())
        return kNotStarted;
    DWORD code = STILL_ACTIVE;
    child.waitForExit(kExitBound, code);
    return code;
}

} // namespace win_test
