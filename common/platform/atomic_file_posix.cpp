#include "atomic_file.h"

#include <cstdlib>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

FILE *openTempBeside(const char *target, std::string &tempPath)
{
    std::string pattern = std::string(target) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;

    // mkstemp makes the file private; keep the mode the settings file had, or
    // give a new one the mode an ordinary create would.
    struct stat old;
    if (stat(target, &old) == 0) {
        fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }

    FILE *file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(name.data());
        return nullptr;
    }
    tempPath = name.data();
    return file;
}

bool replaceFile(const char *temp, const char *target)
{
    return std::rename(temp, target) == 0;
}

void removeFile(const char *path)
{
    unlink(path);
}
