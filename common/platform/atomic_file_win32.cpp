#include "atomic_file.h"

#include <windows.h>

#include <io.h>
#include <cstdlib>
#include <cstring>

namespace {

// A temporary file is "<name>.tmp<pid>-<n>" beside its target, so the next
// start can tell one left by a writer that died from one being written.
const char kTempMark[] = ".tmp";

bool processRunning(DWORD pid)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to open
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// Old enough that no save still writes it: a save takes milliseconds.
const long long kStaleAfterSeconds = 60;

long long ageInSeconds(FILETIME then, FILETIME now)
{
    const auto ticks = [](FILETIME t) { return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(now) - ticks(then)) / 10000000; // 100 ns ticks
}

} // namespace

FILE *openTempBeside(const char *target, std::string &tempPath)
{
    // A read-only settings file is left as it is, as a plain write would leave it.
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return nullptr;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(target) + kTempMark +
                                 std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        // CREATE_NEW so an existing file is never reused.
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        CloseHandle(h);
        FILE *file = std::fopen(name.c_str(), "wb");
        if (!file) {
            DeleteFileA(name.c_str());
            return nullptr;
        }
        tempPath = name;
        return file;
    }
    return nullptr;
}

bool replaceFile(const char *temp, const char *target)
{
    return MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeFile(const char *path)
{
    DeleteFileA(path);
}

bool finishTemp(FILE *temp)
{
    const bool flushed = fflush(temp) == 0 && !ferror(temp) && _commit(_fileno(temp)) == 0;
    return fclose(temp) == 0 && flushed;
}

void removeStaleTemps(const char *target)
{
    const std::string path(target);
    const size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string prefix = path.substr(folder.size()) + kTempMark;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + kTempMark + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    do {
        if (_strnicmp(found.cFileName, prefix.c_str(), prefix.size()) != 0)
            continue;
        // Only names exactly as openTempBeside makes them, plain files (no
        // folder, no link), left more than a minute ago by a writer that is gone.
        char *end = nullptr;
        const unsigned long pid = std::strtoul(found.cFileName + prefix.size(), &end, 10);
        if (pid == 0 || !end || *end != '-')
            continue;
        char *attemptEnd = nullptr;
        std::strtoul(end + 1, &attemptEnd, 10);
        if (attemptEnd == end + 1 || *attemptEnd != '\0' || attemptEnd - (end + 1) > 2)
            continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (ageInSeconds(found.ftLastWriteTime, now) < kStaleAfterSeconds)
            continue;
        if (!processRunning(DWORD(pid)))
            DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
