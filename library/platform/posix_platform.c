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
#include <signal.h>
#include <stdarg.h>
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
#include "kmui_framing.h"
#include "posix_exchange.h"
#include "posix_process.h"
#include "private_folder.h"

enum {
    kStartWaitMs = 10000, /* the simulator may be slow to start under sanitizers */
    kStopWaitMs = 5000,
    kKillWaitMs = 2000,
    kReplyTimeoutS = 5, /* one request, whole: a stuck board must not hang the caller for good */
    kRetryAfterTimeoutS = 2,
};

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

/* Why the last use of the runtime folder or of a board's socket was refused,
 * for orvelctl's one line; empty while nothing was. */
static char g_runtimeProblem[512];

static void posixDebugOutput(const char *text);

/* Keeps the reason and says it once (not on every retry of every request). */
__attribute__((format(printf, 1, 2))) static void refuse(const char *format, ...)
{
    char text[sizeof g_runtimeProblem];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (strcmp(g_runtimeProblem, text) == 0)
        return;
    memcpy(g_runtimeProblem, text, sizeof text);
    posixDebugOutput(text);
}

const char *orvlRuntimeProblem(void)
{
    return g_runtimeProblem;
}

/* The runtime folder, created when missing; its descriptor once it is known
 * to be ours and closed to others, else -1. Checked on every use: anyone may
 * have made a folder under a predictable name such as /tmp/kmui-<uid>. */
static int openRuntimeDir(char *path, size_t size, int create)
{
    if (!kmuiRuntimeDir(path, size))
        return -1;
    char why[400];
    const int fd = create ? kmuiOpenRuntimeDir(path, why, sizeof why) : privateFolderOpen(path, 0, why, sizeof why);
    if (fd < 0)
        refuse("the board's runtime folder is refused: %s", why);
    return fd;
}

/* The board is only who we started, or root's: a socket served by another
 * user would hand that user every request and let it answer as the board. */
static int servedByUs(int fd, const char *path)
{
    struct ucred peer;
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer)
        return 0;
    if (peer.uid == geteuid() || peer.uid == 0)
        return 1;
    refuse("the board's socket %s is served by uid %u, not by uid %u or root", path, (unsigned)peer.uid,
           (unsigned)geteuid());
    return 0;
}

static int connectEndpoint(const char *deviceName)
{
    char dir[PATH_MAX];
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const int folder = openRuntimeDir(dir, sizeof dir, 1);
    if (folder < 0)
        return -1;
    close(folder);
    if (!kmuiEndpointPath(dir, deviceName, address.sun_path, sizeof address.sun_path))
        return -1;

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, (const struct sockaddr *)&address, sizeof address) != 0 || !servedByUs(fd, address.sun_path)) {
        close(fd);
        return -1;
    }
    g_runtimeProblem[0] = '\0';
    return fd;
}

static int reached(const struct timespec *deadline)
{
    const struct timespec now = orvlMonotonicNow();
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
    device->retryAfter = orvlMonotonicNow();
    if (timedOut)
        device->retryAfter.tv_sec += kRetryAfterTimeoutS;
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
    if (orvlExchange(device->fd, controlCode, buffer, length, kReplyTimeoutS, &timedOut)) {
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
    char dir[PATH_MAX], program[PATH_MAX];
    if (!simulatorPath(program, sizeof program))
        return 0;
    const int folder = openRuntimeDir(dir, sizeof dir, 1);
    if (folder < 0)
        return 0;

    /* Nothing answered the device, so a pid file here is left from a board
     * that did not end cleanly; it must not be taken for the new one's. */
    pid_t stale = orvlReadPidFile(folder, KMUI_PID_FILE_NAME);
    if (stale <= 1 || !orvlIsProgram(stale, "kmui-sim"))
        unlinkat(folder, KMUI_PID_FILE_NAME, 0);

    int started = 0;
    const int log = privateFolderOpenFile(folder, KMUI_LOG_FILE_NAME, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (log < 0)
        refuse("cannot open the board's log %s/%s: %s", dir, KMUI_LOG_FILE_NAME, strerror(errno));
    const char *const argv[] = {program, "--runtime-dir", dir, NULL};
    const pid_t board = log >= 0 ? orvlSpawnDetached(argv, log) : 0;
    if (log >= 0)
        close(log);

    /* Started once its endpoint accepts and its pid file tells whom to stop;
     * a board that ended meanwhile will not come up, so that is not waited out. */
    for (int waited = 0; board && waited < kStartWaitMs; waited += 10) {
        if (endpointAccepts(deviceName) && faccessat(folder, KMUI_PID_FILE_NAME, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
            started = 1;
            break;
        }
        if (orvlProcessGone(board))
            break;
        sleepFor(10);
    }
    close(folder);
    return started;
}

static int posixStopAndRemove(const char *serviceName)
{
    (void)serviceName;
    char dir[PATH_MAX];
    const int folder = openRuntimeDir(dir, sizeof dir, 0);
    if (folder < 0)
        return 0;
    int stopped = 0;
    const pid_t pid = orvlReadPidFile(folder, KMUI_PID_FILE_NAME);
    if (pid > 1 && orvlIsProgram(pid, "kmui-sim")) {
        if (kill(pid, SIGTERM) == 0 && orvlWaitGone(pid, kStopWaitMs)) {
            stopped = 1;
        } else {
            kill(pid, SIGKILL);
            if (orvlWaitGone(pid, kKillWaitMs)) {
                /* Killed before it could tidy up: remove what it leaves behind. */
                char socketName[80];
                for (const char *const *name = kmuiServedDeviceNames; *name; ++name)
                    if (kmuiEndpointPath(".", *name, socketName, sizeof socketName))
                        unlinkat(folder, socketName, 0);
                unlinkat(folder, KMUI_PID_FILE_NAME, 0);
                stopped = 1;
            }
        }
    }
    close(folder);
    return stopped;
}

static const OrvlPlatform kPosixPlatform = {
    posixOpenDevice,  posixCloseDevice,     posixIoControl,     posixSleepMs,
    posixIsWow64,     posixInstallAndStart, posixStopAndRemove, posixDebugOutput,
};

const OrvlPlatform *orvlPlatform(void)
{
    return &kPosixPlatform;
}
