// A stand-in for the agent's start as far as the single-instance guard goes:
// exits with -1 when another instance holds the marker, else takes it. Given
// two event names, it says when it holds the marker and keeps it until told
// to end.
#include <windows.h>

#include "platform/agent_platform.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2)
        return 2;
    char name[128];
    if (!WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, name, sizeof name, NULL, NULL))
        return 2;

    const agent_platform::Table &os = agent_platform::table();
    if (os.otherInstanceRunning(name))
        return -1;
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(name);
    if (!marker)
        return 3;

    if (argc >= 4) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
        HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        if (!ready || !quit)
            return 4;
        SetEvent(ready);
        // Bounded, so that a lost test never leaves this process behind.
        WaitForSingleObject(quit, 60000);
        CloseHandle(ready);
        CloseHandle(quit);
    }
    os.releaseInstanceMarker(marker);
    return 0;
}
