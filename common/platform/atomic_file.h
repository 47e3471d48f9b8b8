#pragma once
// The file-system steps of a safe rewrite, which differ between Windows and
// POSIX: create a fresh temporary file beside the target, put it on disk, move
// it over the target in one step, and tidy up after a writer that died.
#include <cstdio>
#include <string>

// Opens a new, empty temporary file in the folder of `target` for binary
// writing; on success `tempPath` names it. Returns null on failure, also when
// the target exists and cannot be written.
FILE *openTempBeside(const char *target, std::string &tempPath);

// Flushes the temporary file to disk and closes it; false when any of it failed.
bool finishTemp(FILE *temp);

// Replaces `target` by `temp` (same folder). The old file stays as it was
// when this fails.
bool replaceFile(const char *temp, const char *target);

void removeFile(const char *path);

// Removes the temporary files of `target` that writers which are no longer
// running left behind (killed, or the power went, during a save): only names
// exactly as openTempBeside makes them, plain files of the user's own, more
// than a minute old. Called before a save, never on a read.
void removeStaleTemps(const char *target);
