#include "kmui_endpoint.h"

#include <errno.h>
#include <limits.h>
#include <sys/stat.h>

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
    return fits(snprintf(out, size, "/tmp/kmui-%u", (unsigned)getuid()), size);
}

int kmuiEndpointPath(const char *dir, const char *deviceName, char *out, size_t size)
{
    if (strncmp(deviceName, "\\\\.\\", 4) == 0)
        deviceName += 4;
    return fits(snprintf(out, size, "%s/%s.sock", dir, deviceName), size);
}

int kmuiPidFilePath(const char *dir, char *out, size_t size)
{
    return fits(snprintf(out, size, "%s/kmui-sim.pid", dir), size);
}

int kmuiStateFilePath(const char *dir, char *out, size_t size)
{
    return fits(snprintf(out, size, "%s/kmui-sim.state", dir), size);
}

int kmuiMakeRuntimeDir(const char *dir)
{
    char partial[PATH_MAX];
    const size_t length = strlen(dir);
    if (length == 0 || length >= sizeof partial) {
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(partial, dir, length + 1);
    for (char *p = partial + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(partial, 0700) != 0 && errno != EEXIST)
            return 0;
        *p = '/';
    }
    if (mkdir(partial, 0700) != 0 && errno != EEXIST)
        return 0;
    struct stat st;
    if (stat(partial, &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return 0;
    }
    return 1;
}
