#ifndef KMUI_ENDPOINT_H
#define KMUI_ENDPOINT_H
/* Where the POSIX stand-in for the KMUI driver lives, and how requests cross
 * the socket. Shared by the library's POSIX platform and by kmui-sim.
 *
 * One connection is one open device handle. A request is
 *   uint32 control code, uint32 length, length bytes (host byte order);
 * the reply is
 *   uint32 length, length bytes
 * carrying the buffer as the driver leaves it (same length as sent). */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Folder holding endpoints, pid file and state file: $KMUI_RUNTIME_DIR, else
 * $XDG_RUNTIME_DIR/kmui, else /tmp/kmui-<uid>. Returns 0 when it does not fit. */
int kmuiRuntimeDir(char *out, size_t size);

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
