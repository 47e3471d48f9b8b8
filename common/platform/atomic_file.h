#pragma once
// The two file-system steps of a safe rewrite, which differ between Windows
// and POSIX: create a fresh temporary file beside the target, and move it over
// the target in one step.
#include <cstdio>
#include <string>

// Opens a new, empty temporary file in the folder of `target` for binary
// writing; on success `tempPath` names it. Returns null on failure.
FILE *openTempBeside(const char *target, std::string &tempPath);

// Replaces `target` by `temp` (same folder). The old file stays as it was
// when this fails.
bool replaceFile(const char *temp, const char *target);

void removeFile(const char *path);
