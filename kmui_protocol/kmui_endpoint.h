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
 * $XDG_RUNTIME_DIR/kmui, else /tmp/kmui-<uid>. Returns 0 when it does not fit.
 * Whichever names it, it is used only once kmuiOpenRuntimeDir accepts it. */
int kmuiRuntimeDir(char *out, size_t size);

/* Opens the folder, creating it and its parents private to the user (0700)
 * when missing, and checks that it is the user's own and closed to others
 * (private_folder.h). Returns its descriptor, or -1 with one line in why. */
int kmuiOpenRuntimeDir(const char *dir, char *why, size_t whySize);

/* "<dir>/<name>.sock" for a device name such as "\\.\KMUI32_1K" or "KMUI32_1K"
 * (any "\\.\" prefix is dropped). Returns 0 when it does not fit. */
int kmuiEndpointPath(const char *dir, const char *deviceName, char *out, size_t size);

/* The files kmui-sim keeps in the folder beside its endpoints. */
#define KMUI_PID_FILE_NAME "kmui-sim.pid"
#define KMUI_STATE_FILE_NAME "kmui-sim.state"
#define KMUI_LOG_FILE_NAME "kmui-sim.log" /* its output when the library starts it */

/* "<dir>/kmui-sim.pid" and "<dir>/kmui-sim.state". */
int kmuiPidFilePath(const char *dir, char *out, size_t size);
int kmuiStateFilePath(const char *dir, char *out, size_t size);

#ifdef __cplusplus
}
#endif
#endif
