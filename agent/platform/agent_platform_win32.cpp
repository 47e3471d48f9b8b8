// Windows: a named mutex marks the running agent, and "ORVEL.DLL" is found by
// the system's library search order.
#include "agent_platform.h"

#include <string>
#include <windows.h>

namespace agent_platform {

struct InstanceMarker {
    HANDLE handle;
};

namespace {

const DWORD mutexAllAccess = 0x1F0001;

std::wstring widen(const char *text)
{
    std::wstring out;
    for (const char *p = text; *p; ++p)
        out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return out;
}

bool winOtherInstanceRunning(const char *name)
{
    HANDLE existing = OpenMutexW(mutexAllAccess, FALSE, widen(name).c_str());
    // The handle is left to process exit: the program ends at once.
    return existing != NULL;
}

InstanceMarker *winCreateInstanceMarker(const char *name)
{
    HANDLE handle = CreateMutexW(NULL, FALSE, widen(name).c_str());
    if (handle == NULL)
        return nullptr;
    return new InstanceMarker {handle};
}

void winReleaseInstanceMarker(InstanceMarker *marker)
{
    if (!marker)
        return;
    CloseHandle(marker->handle);
    delete marker;
}

void *winLoadOrvelLibrary()
{
    return reinterpret_cast<void *>(LoadLibraryW(L"ORVEL.DLL"));
}

void *winResolve(void *library, const char *name)
{
    if (!library)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

} // namespace

const Table &table()
{
    static const Table win32 = {
        winOtherInstanceRunning, winCreateInstanceMarker, winReleaseInstanceMarker,
        winLoadOrvelLibrary, winResolve,
    };
    return win32;
}

} // namespace agent_platform
