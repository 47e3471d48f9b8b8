// POSIX: the single-instance marker is a lock file held with flock(), which the
// kernel drops when the process dies, so a crashed agent never blocks the next
// start. The library is looked for beside the program first.
#include "agent_platform.h"

#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include "private_folder.h"
}

namespace agent_platform {

struct InstanceMarker {
    int fd;
};

namespace {

// The user's own runtime folder plays the part of the Windows session
// namespace. Under a shared name such as /tmp/halden-<uid> it may have been
// made by someone else, so it is checked before each use (private_folder.h).
// -1 when it is refused; why then says so.
int lockFolder(std::string &why)
{
    char path[PATH_MAX];
    char reason[512] = "";
    const int folder = privateFolderOpenUserRuntime(path, sizeof path, reason, sizeof reason);
    why = reason;
    return folder;
}

std::string lockName(const char *name)
{
    return std::string("tamsel-") + name + ".lock";
}

bool posixOtherInstanceRunning(const char *name)
{
    std::string why;
    const int folder = lockFolder(why);
    if (folder < 0)
        return false;
    const int fd = privateFolderOpenFile(folder, lockName(name).c_str(), O_RDONLY, 0);
    close(folder);
    if (fd < 0)
        return false;
    // A lock file left behind by a dead agent is no longer locked.
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

InstanceMarker *posixCreateInstanceMarker(const char *name)
{
    std::string why;
    const int folder = lockFolder(why);
    if (folder < 0) {
        // As on Windows, a marker that cannot be made does not stop the
        // start; but a refused folder is worth a line.
        std::fprintf(stderr, "The single-instance lock is not taken: %s\n", why.c_str());
        return nullptr;
    }
    const int fd = privateFolderOpenFile(folder, lockName(name).c_str(), O_RDWR | O_CREAT, 0600);
    close(folder);
    if (fd < 0)
        return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return new InstanceMarker {fd};
}

void posixReleaseInstanceMarker(InstanceMarker *marker)
{
    if (!marker)
        return;
    close(marker->fd);
    delete marker;
}

std::string programDir()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    buf[n] = '\0';
    std::string path(buf);
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void *posixLoadOrvelLibrary()
{
    static const char fileName[] = "libORVEL.so";
    // Beside the program (a build tree, a copied folder), then where the
    // library is installed, then the system's search path.
    const std::string dir = programDir();
    if (!dir.empty()) {
        if (void *handle = dlopen((dir + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
#ifdef HALDEN_INSTALLED_LIBDIR
        if (void *handle = dlopen((dir + "/" HALDEN_INSTALLED_LIBDIR "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
#endif
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void *posixResolve(void *library, const char *name)
{
    return library ? dlsym(library, name) : nullptr;
}

} // namespace

const Table &table()
{
    static const Table posix = {
        posixOtherInstanceRunning, posixCreateInstanceMarker, posixReleaseInstanceMarker,
        posixLoadOrvelLibrary, posixResolve,
    };
    return posix;
}

} // namespace agent_platform
