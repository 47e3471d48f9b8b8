/* POSIX stand-in for the Windows calls: the KMUI device is a unix-domain
 * socket served by kmui-sim, the driver "service" is a detached kmui-sim
 * process started from beside the library, debugger output goes to stderr. */
#define _GNU_SOURCE
#include "platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "kmui_endpoint.h"
#include "posix_process.h"

enum {
    kStartWaitMs = 10000, /* the simulator may be slow to start under sanitizers */
    kStopWaitMs = 5000,
    kKillWaitMs = 2000,
    kReplyTimeoutS = 5, /* a stuck simulator must not hang the caller for good */
};

/* --- runtime folder ---------------------------------------------------- */

static int makeFolders(const char *path)
{
    char partial[PATH_MAX];
    size_t length = strlen(path);
    if (length == 0 || length >= sizeof partial)
        return 0;
    memcpy(partial, path, length + 1);
    for (char *p = partial + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(partial, 0700) != 0 && errno != EEXIST)
            return 0;
        *p = '/';
    }
    return mkdir(partial, 0700) == 0 || errno == EEXIST;
}

/* The runtime folder, created when missing. */
static int runtimeDir(char *out, size_t size)
{
    return kmuiRuntimeDir(out, size) && makeFolders(out);
}

/* --- device ------------------------------------------------------------ */

static int connectEndpoint(const char *deviceName)
{
    char dir[PATH_MAX];
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (!runtimeDir(dir, sizeof dir) || !kmuiEndpointPath(dir, deviceName, address.sun_path, sizeof address.sun_path))
        return -1;

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, (const struct sockaddr *)&address, sizeof address) != 0) {
        close(fd);
        return -1;
    }
    struct timeval timeout = {kReplyTimeoutS, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

/* A socket carries no open mode: exclusive and shared opens are alike. */
static OrvlDevice posixOpenDevice(const char *deviceName, int shared)
{
    (void)shared;
    int fd = connectEndpoint(deviceName);
    return fd < 0 ? ORVL_NO_DEVICE : (OrvlDevice)fd;
}

static void posixCloseDevice(OrvlDevice device)
{
    close((int)device);
}

static int sendAll(int fd, const void *data, size_t length)
{
    const char *p = data;
    while (length > 0) {
        ssize_t n = send(fd, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        length -= (size_t)n;
    }
    return 1;
}

static int receiveAll(int fd, void *data, size_t length)
{
    char *p = data;
    while (length > 0) {
        ssize_t n = recv(fd, p, length, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        length -= (size_t)n;
    }
    return 1;
}

/* Reads and drops what does not fit the caller's buffer. */
static int discard(int fd, size_t length)
{
    char sink[256];
    while (length > 0) {
        size_t part = length < sizeof sink ? length : sizeof sink;
        if (!receiveAll(fd, sink, part))
            return 0;
        length -= part;
    }
    return 1;
}

static int posixIoControl(OrvlDevice device, uint32_t controlCode, void *buffer, uint32_t length)
{
    int fd = (int)device;
    uint32_t header[2] = {controlCode, length};
    uint32_t replyLength = 0;
    int ok = sendAll(fd, header, sizeof header) && sendAll(fd, buffer, length)
             && receiveAll(fd, &replyLength, sizeof replyLength);
    if (ok) {
        uint32_t take = replyLength < length ? replyLength : length;
        ok = receiveAll(fd, buffer, take) && discard(fd, replyLength - take);
    }
    if (!ok) {
        /* The stream is out of step now; later requests fail at once instead
         * of reading a stale reply. */
        shutdown(fd, SHUT_RDWR);
    }
    return ok;
}

/* --- time, WOW64, diagnostics ------------------------------------------ */

static void posixSleepMs(uint32_t milliseconds)
{
    struct timespec rest = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

static int posixIsWow64(void)
{
    return 0;
}

static void posixDebugOutput(const char *text)
{
    size_t length = strlen(text);
    fputs(text, stderr);
    if (length == 0 || text[length - 1] != '\n')
        fputc('\n', stderr);
    fflush(stderr);
}

/* --- the driver "service": a detached kmui-sim ------------------------- */

/* kmui-sim beside the library file (or the program the library is built into). */
static int simulatorPath(char *out, size_t size)
{
    Dl_info info;
    if (!dladdr((const void *)&orvlPlatform, &info) || !info.dli_fname)
        return 0;
    const char *slash = strrchr(info.dli_fname, '/');
    int n = slash ? snprintf(out, size, "%.*s/kmui-sim", (int)(slash - info.dli_fname), info.dli_fname)
                  : snprintf(out, size, "kmui-sim");
    return n > 0 && (size_t)n < size && access(out, X_OK) == 0;
}

static int endpointAccepts(const char *deviceName)
{
    int fd = connectEndpoint(deviceName);
    if (fd < 0)
        return 0;
    close(fd);
    return 1;
}

static int posixInstallAndStart(const char *serviceName, const char *displayName, const char *driverPath)
{
    (void)displayName;
    (void)driverPath;
    char dir[PATH_MAX], program[PATH_MAX], pidFile[PATH_MAX], logFile[PATH_MAX];
    if (!runtimeDir(dir, sizeof dir) || !simulatorPath(program, sizeof program)
        || !kmuiPidFilePath(dir, pidFile, sizeof pidFile)
        || snprintf(logFile, sizeof logFile, "%s/kmui-sim.log", dir) >= (int)sizeof logFile)
        return 0;

    /* Nothing answered the device, so a pid file here is left from a board
     * that did not end cleanly; it must not be taken for the new one's. */
    pid_t stale = orvlReadPidFile(pidFile);
    if (stale <= 1 || !orvlIsProgram(stale, "kmui-sim"))
        unlink(pidFile);

    const char *const argv[] = {program, "--runtime-dir", dir, NULL};
    if (!orvlSpawnDetached(argv, logFile))
        return 0;

    /* Started once its endpoint accepts and its pid file tells whom to stop. */
    for (int waited = 0; waited < kStartWaitMs; waited += 10) {
        if (endpointAccepts(serviceName) && access(pidFile, F_OK) == 0)
            return 1;
        posixSleepMs(10);
    }
    return 0;
}

static int posixStopAndRemove(const char *serviceName)
{
    char dir[PATH_MAX], pidFile[PATH_MAX];
    if (!kmuiRuntimeDir(dir, sizeof dir) || !kmuiPidFilePath(dir, pidFile, sizeof pidFile))
        return 0;
    pid_t pid = orvlReadPidFile(pidFile);
    if (pid <= 1 || !orvlIsProgram(pid, "kmui-sim"))
        return 0;

    if (kill(pid, SIGTERM) == 0 && orvlWaitGone(pid, kStopWaitMs))
        return 1;
    kill(pid, SIGKILL);
    if (!orvlWaitGone(pid, kKillWaitMs))
        return 0;
    /* Killed before it could tidy up: remove what it leaves behind. */
    char endpoint[PATH_MAX];
    if (kmuiEndpointPath(dir, serviceName, endpoint, sizeof endpoint))
        unlink(endpoint);
    unlink(pidFile);
    return 1;
}

static const OrvlPlatform kPosixPlatform = {
    posixOpenDevice,  posixCloseDevice,     posixIoControl,     posixSleepMs,
    posixIsWow64,     posixInstallAndStart, posixStopAndRemove, posixDebugOutput,
};

const OrvlPlatform *orvlPlatform(void)
{
    return &kPosixPlatform;
}
