#ifndef PRIVATE_FOLDER_H
#define PRIVATE_FOLDER_H
/* A folder of one user's in a place others can write to (/tmp, a runtime
 * folder): the simulated board's sockets and pid file, the agent's lock.
 * Before each use it is opened without following a link and checked on the
 * open descriptor: a directory, owned by the effective user, with no access
 * for group or others. A folder that fails is refused, never "repaired": its
 * owner may be someone else, who would then be handed our files. Files inside
 * are opened through the descriptor with O_NOFOLLOW. POSIX only. */
#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the folder (creating it and missing parents 0700 when create is
 * non-zero) and checks it. Returns a descriptor (O_DIRECTORY, close-on-exec)
 * or -1 with one line in why: "<path> is a symbolic link", "... belongs to uid
 * N, not to uid M", "... is open to other users (mode 0777; it must be 0700
 * or stricter)", "cannot create <path>: <reason>". */
int privateFolderOpen(const char *path, int create, char *why, size_t whySize);

/* The user's own runtime folder for Halden's small files (locks): the
 * session's $XDG_RUNTIME_DIR (checked, never created), else
 * ${TMPDIR:-/tmp}/halden-<euid> (created private, checked). Returns its
 * descriptor with its path in path, or -1 with one line in why. */
int privateFolderOpenUserRuntime(char *path, size_t pathSize, char *why, size_t whySize);

/* A file inside an opened folder: openat with O_NOFOLLOW and O_CLOEXEC added,
 * so a link planted under the name is refused rather than followed. */
int privateFolderOpenFile(int folder, const char *name, int flags, mode_t mode);

/* Writes text whole into name through a fresh temporary (O_EXCL) and renames
 * it over name, so a reader never sees half of it. Returns 1, or 0 with errno. */
int privateFolderWriteFile(int folder, const char *name, const char *text, size_t length, mode_t mode);

#ifdef __cplusplus
}
#endif
#endif
