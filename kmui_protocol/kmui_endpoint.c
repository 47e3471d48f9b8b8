#include "kmui_endpoint.h"

#include "private_folder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

const char *const kmuiServedDeviceNames[] = {"KMUI32_1K", "KMUI64_1K", NULL};

static int fits(int n, size_t size) { return n > 0 && (size_t)n < size; }

int kmuiRuntimeDir(char *out, size_t size)
{
    const char *dir = getenv("KMUI_RUNTIME_DIR");
    if (dir && *dir)
        return fits(snprintf(out, size, "%s", dir), size);
    const char *xdg = getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg)
        return fits(snprintf(out, size, "%s/kmui", xdg), size);
    return fits(snprintf(out, size, "/tmp/kmui-%u", (unsigned)geteuid()), size);
}

int kmuiEndpointPath(const char *dir, const char *deviceName, char *out, size_t size)
{
    if (strncmp(deviceName, "\\\\.\\", 4) == 0)
        deviceName += 4;
    return fits(snprintf(out, size, "%s/%s.sock", dir, deviceName), size);
}

int kmuiPidFilePath(const char *dir, char *out, size_t size)
{
    return fits(snprintf(out, size, "%s/" KMUI_PID_FILE_NAME, dir), size);
}

int kmuiStateFilePath(const char *dir, char *out, size_t size)
{
    return fits(snprintf(out, size, "%s/" KMUI_STATE_FILE_NAME, dir), size);
}

int kmuiOpenRuntimeDir(const char *dir, char *why, size_t whySize)
{
    return privateFolderOpen(dir, 1, why, whySize);
}
