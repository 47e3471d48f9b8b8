#define _GNU_SOURCE
#include "posix_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static void closeInheritedFiles(int keep, long max)
{
    for (int fd = 3; fd < max; ++fd)
        if (fd != keep)
            close(fd);
}

/* Runs in the grandchild, so only async-signal-safe calls; reports a failed
 * exec through the pipe. */
static void execDetached(const char *const argv[], int log, int report, long maxFd)
{
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0)
        dup2(in, 0);
    if (log >= 0) {
        dup2(log, 1);
        dup2(log, 2);
    }
    closeInheritedFiles(report, maxFd);
    /* A service starts with default signal handling, whatever the caller had. */
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execv(argv[0], (char *const *)argv);
    int error = errno;
    if (write(report, &error, sizeof error) < 0) {
    }
    _exit(127);
}

pid_t orvlSpawnDetached(const char *const argv[], int logFd)
{
    long maxFd = sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536)
        maxFd = 65536;
    int report[2], started[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return 0;
    if (pipe2(started, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        return 0;
    }

    /* Double fork: the intermediate child leaves at once, so the program is
     * adopted by init and never becomes our zombie. */
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        close(started[0]);
        close(started[1]);
        return 0;
    }
    if (child == 0) {
        close(report[0]);
        close(started[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0)
            execDetached(argv, logFd, report[1], maxFd);
        /* The caller watches the program by its pid while it starts. */
        if (grandchild > 0 && write(started[1], &grandchild, sizeof grandchild) != sizeof grandchild)
            _exit(1);
        _exit(grandchild < 0 ? 1 : 0);
    }

    close(report[1]);
    close(started[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t program = 0;
    ssize_t got;
    while ((got = read(started[0], &program, sizeof program)) < 0 && errno == EINTR) {
    }
    close(started[0]);
    /* End of file means exec succeeded (the pipe closed on exec). */
    int error = 0;
    ssize_t n;
    while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || n != 0 || got != sizeof program || program <= 1)
        return 0;
    return program;
}

pid_t orvlReadPidFile(int folder, const char *name)
{
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {0};
    ssize_t n;
    while ((n = read(fd, text, sizeof text - 1)) < 0 && errno == EINTR) {
    }
    close(fd);
    if (n <= 0)
        return 0;
    text[n] = '\0';
    char *end = NULL;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || value <= 0 || value != (pid_t)value)
        return 0;
    while (*end == '\n' || *end == '\r' || *end == ' ')
        ++end;
    return *end == '\0' ? (pid_t)value : 0;
}

int orvlIsProgram(pid_t pid, const char *name)
{
    char path[64], comm[64] = {0};
    snprintf(path, sizeof path, "/proc/%ld/comm", (long)pid);
    FILE *file = fopen(path, "re");
    if (!file)
        return 0;
    size_t n = fread(comm, 1, sizeof comm - 1, file);
    fclose(file);
    while (n > 0 && comm[n - 1] == '\n')
        comm[--n] = '\0';
    /* The kernel keeps at most 15 characters of the name. */
    return n > 0 && strncmp(comm, name, 15) == 0;
}

int orvlProcessGone(pid_t pid)
{
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return 1;
    char path[64], stat[256] = {0};
    snprintf(path, sizeof path, "/proc/%ld/stat", (long)pid);
    FILE *file = fopen(path, "re");
    if (!file)
        return 1;
    size_t n = fread(stat, 1, sizeof stat - 1, file);
    fclose(file);
    stat[n] = '\0';
    const char *afterName = strrchr(stat, ')');
    return afterName && afterName[1] == ' ' && afterName[2] == 'Z';
}

int orvlWaitGone(pid_t pid, int timeoutMs)
{
    const struct timespec pause = {0, 10 * 1000000L};
    for (int waited = 0;; waited += 10) {
        if (orvlProcessGone(pid))
            return 1;
        if (waited >= timeoutMs)
            return 0;
        nanosleep(&pause, NULL);
    }
}
