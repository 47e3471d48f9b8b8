#include "atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A temporary file is "<name>.tmp-<pid>-XXXXXX" beside its target, so the
// next start can tell one left by a writer that died from one being written.
const char kTempMark[] = ".tmp-";

// The file a save replaces: a symbolic link is followed, so the link stays
// and its target is replaced in its own folder.
std::string resolvedTarget(const char *target)
{
    struct stat st;
    if (lstat(target, &st) != 0 || !S_ISLNK(st.st_mode))
        return target;
    char resolved[PATH_MAX];
    return realpath(target, resolved) ? std::string(resolved) : std::string(target);
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string baseOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Data and the folder entry on disk, so that after a power cut the target
// is the old file or the new one, not an empty one.
void syncFolder(const std::string &folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

FILE *openTempBeside(const char *target, std::string &tempPath)
{
    const std::string file = resolvedTarget(target);
    // A settings file that cannot be written is left as it is, as a plain
    // write would leave it; replacing it would get round its mode.
    if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0)
        return nullptr;

    std::string pattern = file + kTempMark + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;

    // mkstemp makes the file private; keep the mode the settings file had, or
    // give a new one the mode an ordinary create would.
    struct stat old;
    if (stat(file.c_str(), &old) == 0) {
        fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }

    FILE *stream = fdopen(fd, "wb");
    if (!stream) {
        close(fd);
        unlink(name.data());
        return nullptr;
    }
    tempPath = name.data();
    return stream;
}

bool finishTemp(FILE *temp)
{
    const bool flushed = fflush(temp) == 0 && !ferror(temp) && fsync(fileno(temp)) == 0;
    return fclose(temp) == 0 && flushed;
}

bool replaceFile(const char *temp, const char *target)
{
    const std::string file = resolvedTarget(target);
    if (std::rename(temp, file.c_str()) != 0)
        return false;
    syncFolder(folderOf(file));
    return true;
}

void removeFile(const char *path)
{
    unlink(path);
}

void removeStaleTemps(const char *target)
{
    const std::string file = resolvedTarget(target);
    const std::string prefix = baseOf(file) + kTempMark;
    const std::string folder = folderOf(file);
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name + prefix.size(), &end, 10);
        if (pid <= 0 || !end || *end != '-')
            continue;
        // Only the temporaries of writers that are gone; a live one may be saving.
        if (kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            unlink((folder + "/" + entry->d_name).c_str());
    }
    closedir(dir);
}
