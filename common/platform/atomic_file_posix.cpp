#include "atomic_file.h"

#include <cctype>
#include <cerrno>
#include <ctime>
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

// The process's umask, read without changing it: umask(0) then umask(mask)
// would leave other threads creating files meanwhile with no mask at all.
mode_t currentUmask()
{
    if (FILE *status = fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && fgets(line, sizeof line, status))
            found = sscanf(line, "Umask: %o", &mask) == 1;
        fclose(status);
        if (found)
            return mode_t(mask & 0777);
    }
    // Only where /proc is not there (Linux before 4.7, other systems).
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// mkstemp's six characters.
bool isTempSuffix(const char *text)
{
    size_t n = 0;
    for (; text[n]; ++n)
        if (!std::isalnum(static_cast<unsigned char>(text[n])))
            return false;
    return n == 6;
}

// Old enough that no save still writes it: a save takes milliseconds.
const time_t kStaleAfterSeconds = 60;

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
    fchmod(fd, stat(file.c_str(), &old) == 0 ? old.st_mode & 07777 : 0666 & ~currentUmask());

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
    const time_t now = time(nullptr);
    while (const dirent *entry = readdir(dir)) {
        // Only names exactly as openTempBeside makes them: someone's
        // "Brimlet.ini.tmp-4000000-notes.txt" is not ours to delete.
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const char *digits = entry->d_name + prefix.size();
        char *end = nullptr;
        const long pid = std::strtol(digits, &end, 10);
        if (pid <= 0 || end == digits || !std::isdigit(static_cast<unsigned char>(*digits)) || *end != '-'
            || !isTempSuffix(end + 1))
            continue;
        // A plain file of our own (not a link, nor anyone else's), left long
        // enough ago by a writer that is gone; a live one may be saving.
        const std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()
            || now - st.st_mtime < kStaleAfterSeconds)
            continue;
        if (kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            unlink(path.c_str());
    }
    closedir(dir);
}
