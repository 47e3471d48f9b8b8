#define _GNU_SOURCE
#include "private_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

__attribute__((format(printf, 3, 4))) static void say(char *why, size_t size, const char *format, ...)
{
    if (!why || size == 0)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(why, size, format, args);
    va_end(args);
}

/* mkdir -p, each new part private. */
static int makeFolders(const char *path)
{
    char partial[PATH_MAX];
    const size_t length = strlen(path);
    if (length == 0 || length >= sizeof partial) {
        errno = ENAMETOOLONG;
        return 0;
    }
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

int privateFolderOpen(const char *path, int create, char *why, size_t whySize)
{
    if (!path || !*path) {
        say(why, whySize, "no folder named");
        return -1;
    }
    if (create && !makeFolders(path)) {
        say(why, whySize, "cannot create %s: %s", path, strerror(errno));
        return -1;
    }
    struct stat st;
    if (lstat(path, &st) != 0) {
        say(why, whySize, "cannot use %s: %s", path, strerror(errno));
        return -1;
    }
    if (S_ISLNK(st.st_mode)) {
        say(why, whySize, "%s is a symbolic link, not a folder of its own", path);
        return -1;
    }
    if (!S_ISDIR(st.st_mode)) {
        say(why, whySize, "%s is not a folder", path);
        return -1;
    }
    /* The checks that count are made on what was opened, so a folder swapped
     * after the lstat above is caught too. */
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        say(why, whySize, "cannot use %s: %s", path, strerror(errno));
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        say(why, whySize, "%s is not a folder", path);
        close(fd);
        return -1;
    }
    if (st.st_uid != geteuid()) {
        say(why, whySize, "%s belongs to uid %ld, not to uid %ld", path, (long)st.st_uid, (long)geteuid());
        close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0) {
        say(why, whySize, "%s is open to other users (mode %04lo; it must be 0700 or stricter)", path,
            (unsigned long)(st.st_mode & 07777));
        close(fd);
        return -1;
    }
    return fd;
}

int privateFolderOpenUserRuntime(char *path, size_t pathSize, char *why, size_t whySize)
{
    const char *xdg = getenv("XDG_RUNTIME_DIR");
    const char *tmp = getenv("TMPDIR");
    int n;
    if (xdg && *xdg)
        n = snprintf(path, pathSize, "%s", xdg);
    else
        n = snprintf(path, pathSize, "%s/halden-%ld", tmp && *tmp ? tmp : "/tmp", (long)geteuid());
    if (n <= 0 || (size_t)n >= pathSize) {
        say(why, whySize, "the runtime folder's name is too long");
        return -1;
    }
    return privateFolderOpen(path, !(xdg && *xdg), why, whySize);
}

int privateFolderOpenFile(int folder, const char *name, int flags, mode_t mode)
{
    return openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

int privateFolderWriteFile(int folder, const char *name, const char *text, size_t length, mode_t mode)
{
    char temp[NAME_MAX + 1];
    const int n = snprintf(temp, sizeof temp, ".%s.tmp-%ld", name, (long)getpid());
    if (n <= 0 || (size_t)n >= sizeof temp) {
        errno = ENAMETOOLONG;
        return 0;
    }
    /* One left by a writer of this pid that died is ours to replace. */
    unlinkat(folder, temp, 0);
    const int fd = privateFolderOpenFile(folder, temp, O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < length) {
        const ssize_t w = write(fd, text + done, length - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            break;
        done += (size_t)w;
    }
    int ok = done == length;
    if (close(fd) != 0)
        ok = 0;
    if (ok && renameat(folder, temp, folder, name) == 0)
        return 1;
    const int error = errno;
    unlinkat(folder, temp, 0);
    errno = error ? error : EIO;
    return 0;
}
