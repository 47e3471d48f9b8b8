#include "test_driver_install.h"

#include <string>
#include <windows.h>

#include "service_entry.h"

namespace win_test {

const wchar_t kDriverService[] = L"KMUI32_1K";

namespace {

const wchar_t kDriverFile[] = L"KMUI32_1K.SYS";
const wchar_t kImagePath[] = L"\\SystemRoot\\system32\\drivers\\KMUI32_1K.SYS";

std::wstring builtDriverFile()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + kDriverFile;
}

std::wstring installedDriverFile()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\drivers\\" + kDriverFile;
}

} // namespace

bool installTestDriver()
{
    return removeServiceEntry(kDriverService)
           && CopyFileW(builtDriverFile().c_str(), installedDriverFile().c_str(), FALSE)
           && createDriverEntry(kDriverService, kImagePath);
}

bool removeTestDriver()
{
    const bool removed = removeServiceEntry(kDriverService);
    DeleteFileW(installedDriverFile().c_str());
    return removed;
}

} // namespace win_test
