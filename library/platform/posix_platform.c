/* POSIX stand-in for the Windows calls: the KMUI device is a unix-domain
 * socket served by kmui-sim, the driver "service" is a detached kmui-sim
 * process started from beside the library, debugger output goes to stderr. */
#define _GNU_SOURCE
#include "platform.h"
#include "orvel_posix.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "kmui_endpoint.h"
#include "kmui_framing.h"
#include "posix_process.h"

enum {
    kStartWaitMs = 10000, /* the simulator may be slow to start under sanitizers */
    kStopWaitMs = 5000,
    kKillWaitMs = 2000,
    kReplyTimeoutS = 5, /* a stuck simulator must not hang the caller for good */
    kRetryAfterTimeoutS = 2,
};
static const long kLookForReplyNs = 200 * 1000L;

/* --- device ------------------------------------------------------------ */

/* A device handle is a connection to kmui-sim plus the name it was opened
 * under. When kmui-sim dies the connection is gone for good; a driver's handle
 * outlives a driver restart, so the handle reconnects on its next request. */
typedef struct PosixDevice {
    int fd; /* -1 while the connection is broken */
    char name[64];
    struct timespec retryAfter; /* no reconnect before this (CLOCK_MONOTONIC) */
} PosixDevice;

/* Set while the driver behind this thread's last request could not be
 * reached: the library's pauses wait for the firmware, and with no driver
 * there is nothing to wait for, so they return at once. That bounds the stall
 * of a caller whose board went away to a few milliseconds per export. */
static _Thread_local int t_driverUnreachable;

/* The runtime folder, created when missing. */
static int runtimeDir(char *out, size_t size)
{
    return kmuiRuntimeDir(out, size) && kmuiMakeRuntimeDir(out);
}

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

static struct timespec monotonicNow(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

static int reached(const struct timespec *deadline)
{
    const struct timespec now = monotonicNow();
    return now.tv_sec > deadline->tv_sec || (now.tv_sec == deadline->tv_sec && now.tv_nsec >= deadline->tv_nsec);
}

/* A socket carries no open mode: exclusive and shared opens are alike. */
static OrvlDevice posixOpenDevice(const char *deviceName, int shared)
{
    (void)shared;
    if (strlen(deviceName) >= sizeof((PosixDevice *)0)->name)
        return ORVL_NO_DEVICE;
    PosixDevice *device = calloc(1, sizeof *device);
    if (!device)
        return ORVL_NO_DEVICE;
    device->fd = connectEndpoint(deviceName);
    if (device->fd < 0) {
        free(device);
        return ORVL_NO_DEVICE;
    }
    strcpy(device->name, deviceName);
    return (OrvlDevice)device;
}

static void posixCloseDevice(OrvlDevice handle)
{
    PosixDevice *device = (PosixDevice *)handle;
    if (handle == ORVL_NO_DEVICE || !device)
        return;
    if (device->fd >= 0)
        close(device->fd);
    free(device);
}

/* The stream is out of step or gone: drop it. A board that timed out may be
 * hung rather than gone, and connecting to it succeeds only to time out
 * again, so after a time-out the next attempt waits a while. */
static void breakConnection(PosixDevice *device, int timedOut)
{
    close(device->fd);
    device->fd = -1;
    device->retryAfter = monotonicNow();
    if (timedOut)
        device->retryAfter.tv_sec += kRetryAfterTimeoutS;
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

/* Header and body in one call: the board then wakes once per request, not
 * once for the header and again for the body (the firmware-table scan makes
 * thousands of requests). */
static int sendRequest(int fd, const unsigned char *header, size_t headerLength, const void *body,
                       size_t bodyLength)
{
    struct iovec parts[2] = {{(void *)header, headerLength}, {(void *)body, bodyLength}};
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    ssize_t n;
    while ((n = sendmsg(fd, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (n < 0)
        return 0;
    size_t sent = (size_t)n;
    if (sent < headerLength)
        return sendAll(fd, header + sent, headerLength - sent) && sendAll(fd, body, bodyLength);
    sent -= headerLength;
    return sendAll(fd, (const char *)body + sent, bodyLength - sent);
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

/* The board answers within microseconds. Sleeping in recv until then means a
 * wake-up from another core that costs more than the answer itself, so look
 * for the reply without sleeping for a short while first. */
static void awaitReply(int fd)
{
    struct pollfd ready = {fd, POLLIN, 0};
    const struct timespec start = monotonicNow();
    for (;;) {
        if (poll(&ready, 1, 0) != 0)
            return;
        sched_yield(); /* on the board's core, let the board run */
        const struct timespec now = monotonicNow();
        if ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) > kLookForReplyNs)
            return;
    }
}

/* One request over a live connection; 0 when it could not be completed. */
static int exchange(int fd, uint32_t controlCode, void *buffer, uint32_t length, int *timedOut)
{
    unsigned char header[KMUI_REQUEST_HEADER_SIZE];
    unsigned char replyHeader[KMUI_REPLY_HEADER_SIZE];
    kmuiPutRequestHeader(header, controlCode, length);
    errno = 0;
    int ok = sendRequest(fd, header, sizeof header, buffer, length);
    if (ok)
        awaitReply(fd);
    ok = ok && receiveAll(fd, replyHeader, sizeof replyHeader);
    if (ok) {
        const uint32_t replyLength = kmuiGetU32(replyHeader);
        const uint32_t take = replyLength < length ? replyLength : length;
        ok = receiveAll(fd, buffer, take) && discard(fd, replyLength - take);
    }
    *timedOut = !ok && (errno == EAGAIN || errno == EWOULDBLOCK);
    return ok;
}

static int posixIoControl(OrvlDevice handle, uint32_t controlCode, void *buffer, uint32_t length)
{
    PosixDevice *device = (PosixDevice *)handle;
    if (handle == ORVL_NO_DEVICE || !device)
        return 0;
    if (device->fd < 0 && reached(&device->retryAfter))
        device->fd = connectEndpoint(device->name);
    if (device->fd < 0) {
        t_driverUnreachable = 1;
        return 0;
    }
    int timedOut = 0;
    if (exchange(device->fd, controlCode, buffer, length, &timedOut)) {
        t_driverUnreachable = 0;
        return 1;
    }
    breakConnection(device, timedOut);
    t_driverUnreachable = 1;
    return 0;
}

/* --- time, WOW64, diagnostics ------------------------------------------ */

static void sleepFor(uint32_t milliseconds)
{
    struct timespec rest = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

static void posixSleepMs(uint32_t milliseconds)
{
    if (!t_driverUnreachable)
        sleepFor(milliseconds);
}

static int posixIsWow64(void)
{
    return 0;
}

static int g_debugOutput = 1;

void orvlSetDebugOutput(int enabled)
{
    g_debugOutput = enabled != 0;
}

int orvlDriverAnswered(void)
{
    return !t_driverUnreachable;
}

static void posixDebugOutput(const char *text)
{
    if (!g_debugOutput)
        return;
    size_t length = strlen(text);
    fputs(text, stderr);
    if (length == 0 || text[length - 1] != '\n')
        fputc('\n', stderr);
    fflush(stderr);
}

/* --- the driver "service": a detached kmui-sim ------------------------- */

/* kmui-sim beside the library file (or the program the library is built
 * into), else where it is installed relative to the library's folder. */
static int simulatorPath(char *out, size_t size)
{
    Dl_info info;
    if (!dladdr((const void *)&orvlPlatform, &info) || !info.dli_fname)
        return 0;
    const char *slash = strrchr(info.dli_fname, '/');
    const int folder = slash ? (int)(slash - info.dli_fname) : 1;
    const char *base = slash ? info.dli_fname : ".";
    const char *const candidates[] = {
        "kmui-sim",
#ifdef ORVL_INSTALLED_SIMULATOR
        ORVL_INSTALLED_SIMULATOR,
#endif
    };
    for (size_t i = 0; i < sizeof candidates / sizeof candidates[0]; ++i) {
        int n = snprintf(out, size, "%.*s/%s", folder, base, candidates[i]);
        if (n > 0 && (size_t)n < size && access(out, X_OK) == 0) {
            /* Started as /usr/bin/kmui-sim, not as .../lib/x86_64-linux-gnu/../../bin/kmui-sim. */
            char resolved[PATH_MAX];
            if (realpath(out, resolved) && strlen(resolved) < size)
                strcpy(out, resolved);
            return 1;
        }
    }
    return 0;
}

static int endpointAccepts(const char *deviceName)
{
    int fd = connectEndpoint(deviceName);
    if (fd < 0)
        return 0;
    close(fd);
    return 1;
}

/* A driver file serves the device named like it: "...\\KMUI64_1K.SYS" is
 * "KMUI64_1K" (the service is called "KMUI64" under WOW64). */
static int deviceNameOfDriver(const char *driverPath, char *out, size_t size)
{
    const char *base = driverPath;
    for (const char *p = driverPath; *p; ++p)
        if (*p == '\\' || *p == '/')
            base = p + 1;
    const char *dot = strrchr(base, '.');
    const size_t length = dot ? (size_t)(dot - base) : strlen(base);
    if (length == 0 || length >= size)
        return 0;
    memcpy(out, base, length);
    out[length] = '\0';
    return 1;
}

static int posixInstallAndStart(const char *serviceName, const char *displayName, const char *driverPath)
{
    (void)serviceName;
    (void)displayName;
    char deviceName[64];
    if (!deviceNameOfDriver(driverPath, deviceName, sizeof deviceName))
        return 0;
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
    const pid_t started = orvlSpawnDetached(argv, logFile);
    if (!started)
        return 0;

    /* Started once its endpoint accepts and its pid file tells whom to stop;
     * a board that ended meanwhile will not come up, so that is not waited out. */
    for (int waited = 0; waited < kStartWaitMs; waited += 10) {
        if (endpointAccepts(deviceName) && access(pidFile, F_OK) == 0)
            return 1;
        if (orvlProcessGone(started))
            return 0;
        sleepFor(10);
    }
    return 0;
}

static int posixStopAndRemove(const char *serviceName)
{
    (void)serviceName;
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
    for (const char *const *name = kmuiServedDeviceNames; *name; ++name)
        if (kmuiEndpointPath(dir, *name, endpoint, sizeof endpoint))
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
