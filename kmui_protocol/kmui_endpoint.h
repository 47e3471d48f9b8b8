#ifndef KMUI_ENDPOINT_H
#define KMUI_ENDPOINT_H
/* Where the POSIX stand-in for the KMUI driver lives. Shared by the library's
 * POSIX platform and by kmui-sim; the bytes that cross the socket are in
 * kmui_framing.h. */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The device names kmui-sim serves an endpoint for, ending in NULL. */
extern const char *const kmuiServedDeviceNames[];

/* Folder holding endpoints, pid file and state file: $KMUI_RUNTIME_DIR, else
 * $XDG_RUNTIME_DIR/kmui, else /tmp/kmui-<uid>. Returns 0 when it does not fit. */
int kmuiRuntimeDir(char *out, size_t size);

/* Creates the folder and its parents, private to the user (mkdir -p, 0700).
 * Returns 1 when it exists afterwards, else 0 with errno set. */
int kmuiMakeRuntimeDir(const char *dir);

/* "<dir>/<name>.sock" for a device name such as "\\.\KMUI32_1K" or "KMUI32_1K"
 * (any "\\.\" prefix is dropped). Returns 0 when it does not fit. */
int kmuiEndpointPath(const char *dir, const char *deviceName, char *out, size_t size);

/* "<dir>/kmui-sim.pid" and "<dir>/kmui-sim.state". */
int kmuiPidFilePath(const char *dir, char *out, size_t size);
int kmuiStateFilePath(const char *dir, char *out, size_t size);

#ifdef __cplusplus
}
#endif
#endif
