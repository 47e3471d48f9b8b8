#ifndef ORVEL_POSIX_PROCESS_H
#define ORVEL_POSIX_PROCESS_H
/* Process helpers behind the POSIX "service": start a program detached from
 * the caller, and find and await a process named by a pid file. */
#include <sys/types.h>

/* Starts argv[0] in its own session, not a child of the caller, so that it
 * outlives the caller like a service; stdin from /dev/null, stdout and stderr
 * to logFd (which the caller keeps and closes). The program's pid once it was
 * executed, else 0. */
pid_t orvlSpawnDetached(const char *const argv[], int logFd);

/* The pid in the file name inside the folder (a link is not followed), or 0
 * when there is none. */
pid_t orvlReadPidFile(int folder, const char *name);

/* Non-zero when pid runs a program of that name, so a stale pid file cannot
 * make us signal an unrelated process. */
int orvlIsProgram(pid_t pid, const char *name);

/* Non-zero when the process has ended: gone, or a zombie waiting for a
 * parent that may never reap it. */
int orvlProcessGone(pid_t pid);

/* Waits up to timeoutMs for the process to end; non-zero when it did. */
int orvlWaitGone(pid_t pid, int timeoutMs);

#endif
