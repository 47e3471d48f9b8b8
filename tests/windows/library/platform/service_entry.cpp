#include "service_entry.h"

#include <vector>
#include <windows.h>

namespace win_test {

namespace {

// Closes a service control manager handle at scope end.
struct ScHandle {
    SC_HANDLE handle;
    explicit ScHandle(SC_HANDLE h) : handle(h) {}
    ~ScHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
    ScHandle(const ScHandle &) = delete;
    ScHandle &operator=(const ScHandle &) = delete;
    explicit operator bool() const { return handle != NULL; }
};

} // namespace

ServiceEntry queryServiceEntry(const wchar_t *name)
{
    ServiceEntry entry;
    ScHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return entry;
    ScHandle service(OpenServiceW(manager.handle, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service)
        return entry;
    entry.exists = true;
    SERVICE_STATUS status;
    if (QueryServiceStatus(service.handle, &status))
        entry.state = status.dwCurrentState;
    DWORD needed = 0;
    QueryServiceConfigW(service.handle, NULL, 0, &needed);
    std::vector<unsigned char> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (QueryServiceConfigW(service.handle, config, DWORD(buffer.size()), &needed)) {
        entry.type = config->dwServiceType;
        entry.startType = config->dwStartType;
        entry.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    }
    return entry;
}

bool createDriverEntry(const wchar_t *name, const wchar_t *binaryPath)
{
    ScHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    ScHandle service(CreateServiceW(manager.handle, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath, NULL, NULL, NULL,
                                    NULL, NULL));
    return bool(service);
}

bool startService(const wchar_t *name)
{
    ScHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    ScHandle service(manager ? OpenServiceW(manager.handle, name, SERVICE_START) : NULL);
    return service && StartServiceW(service.handle, 0, NULL);
}

bool stopService(const wchar_t *name)
{
    ScHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
    ScHandle service(manager ? OpenServiceW(manager.handle, name, SERVICE_STOP) : NULL);
    SERVICE_STATUS status;
    return service && ControlService(service.handle, SERVICE_CONTROL_STOP, &status);
}

bool removeServiceEntry(const wchar_t *name)
{
    {
        ScHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
        if (!manager)
            return false;
        ScHandle service(OpenServiceW(manager.handle, name, DELETE | SERVICE_STOP));
        if (service) {
            SERVICE_STATUS status;
            ControlService(service.handle, SERVICE_CONTROL_STOP, &status);
            DeleteService(service.handle);
        }
    }
    // The entry goes once the last handle to it is closed.
    return !queryServiceEntry(name).exists;
}

} // namespace win_test
