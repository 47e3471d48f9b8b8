#pragma once
// The KMUI driver's entry in the service control manager, as a test sees it
// from outside the library.
#include <string>

namespace win_test {

struct ServiceEntry {
    bool exists = false;
    unsigned long type = 0;       // SERVICE_KERNEL_DRIVER for the driver
    unsigned long startType = 0;
    std::wstring binaryPath;
    unsigned long state = 0;      // SERVICE_RUNNING, SERVICE_STOPPED, ...
};

ServiceEntry queryServiceEntry(const wchar_t *name);
// A driver entry made by someone else before the library runs.
bool createDriverEntry(const wchar_t *name, const wchar_t *binaryPath);
bool startService(const wchar_t *name);
bool stopService(const wchar_t *name);
// True when the entry is gone afterwards (also when there was none).
bool removeServiceEntry(const wchar_t *name);

} // namespace win_test
