/* The Windows calls behind the platform table: the KMUI device through
 * CreateFileW and DeviceIoControl, the driver's service through the service
 * control manager, and debugger output. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform.h"

typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE, PBOOL);

/* Our names are plain ASCII; the W calls want them wide. */
static int widen(const char *text, wchar_t *out, size_t size)
{
    size_t i = 0;
    for (; text[i]; ++i) {
        if (i + 1 >= size)
            return 0;
        out[i] = (wchar_t)(unsigned char)text[i];
    }
    out[i] = L'\0';
    return 1;
}

static OrvlDevice win32OpenDevice(const char *deviceName, int shared)
{
    wchar_t name[MAX_PATH];
    if (!widen(deviceName, name, MAX_PATH))
        return ORVL_NO_DEVICE;
    HANDLE device = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0,
                                NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    return device == INVALID_HANDLE_VALUE ? ORVL_NO_DEVICE : (OrvlDevice)device;
}

static void win32CloseDevice(OrvlDevice device)
{
    CloseHandle((HANDLE)device);
}

static int win32IoControl(OrvlDevice device, uint32_t controlCode, void *buffer, uint32_t length)
{
    DWORD returned = 0;
    return DeviceIoControl((HANDLE)device, controlCode, buffer, length, buffer, length, &returned, NULL) ? 1 : 0;
}

static void win32SleepMs(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

/* Looked up each time: IsWow64Process is missing on old systems, which then
 * only run the 32-bit driver. */
static int win32IsWow64(void)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    IsWow64ProcessFn isWow64Process =
        kernel ? (IsWow64ProcessFn)(void (*)(void))GetProcAddress(kernel, "IsWow64Process") : NULL;
    BOOL wow64 = FALSE;
    if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64))
        return 0;
    return wow64 ? 1 : 0;
}

static int win32InstallAndStart(const char *serviceName, const char *displayName, const char *driverPath)
{
    wchar_t name[MAX_PATH], display[MAX_PATH], path[MAX_PATH];
    if (!widen(serviceName, name, MAX_PATH) || !widen(displayName, display, MAX_PATH)
        || !widen(driverPath, path, MAX_PATH))
        return 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 0;
    SC_HANDLE service = CreateServiceW(manager, name, display, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, NULL, NULL, NULL, NULL,
                                       NULL);
    const int created = service != NULL;
    if (!service && GetLastError() == ERROR_SERVICE_EXISTS)
        service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    int started = 0;
    if (service) {
        started = StartServiceW(service, 0, NULL) ? 1 : 0;
        /* The session does not count a driver that failed to start as
         * installed, so nothing would ever remove an entry made just now; an
         * entry that was there before is someone else's and stays. */
        if (!started && created)
            DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return started;
}

static int win32StopAndRemove(const char *serviceName)
{
    wchar_t name[MAX_PATH];
    if (!widen(serviceName, name, MAX_PATH))
        return 0;
    SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 0;
    int removed = 0;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        /* A driver that will not stop stays installed. */
        if (ControlService(service, SERVICE_CONTROL_STOP, &status))
            removed = DeleteService(service) ? 1 : 0;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return removed;
}

static void win32DebugOutput(const char *text)
{
    OutputDebugStringA(text);
}

static const OrvlPlatform kWin32Platform = {
    win32OpenDevice, win32CloseDevice,     win32IoControl,     win32SleepMs,
    win32IsWow64,    win32InstallAndStart, win32StopAndRemove, win32DebugOutput,
};

const OrvlPlatform *orvlPlatform(void)
{
    return &kWin32Platform;
}
