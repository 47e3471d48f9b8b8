#include "atomic_file.h"

#include <windows.h>

FILE *openTempBeside(const char *target, std::string &tempPath)
{
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name = std::string(target) + ".tmp" +
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
