#ifndef ORVEL_PLATFORM_H
#define ORVEL_PLATFORM_H
/* Every operating-system call the library makes, as one table. The core never
 * talks to the OS directly, so the same core runs on Windows, on POSIX against
 * kmui-sim, and in unit tests against an in-process board. */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A device handle; ORVL_NO_DEVICE (all bits set, like INVALID_HANDLE_VALUE)
 * means none. */
typedef intptr_t OrvlDevice;
#define ORVL_NO_DEVICE ((OrvlDevice)-1)

typedef struct OrvlPlatform {
    /* Opens the driver's device; shared = 0 asks for exclusive access, 1 for
     * shared reading and writing. Returns ORVL_NO_DEVICE on failure. */
    OrvlDevice (*openDevice)(const char *deviceName, int shared);
    void (*closeDevice)(OrvlDevice device);
    /* One control-code request; buffer is input and output of equal length.
     * The result is the OS's answer, which callers may ignore. */
    int (*ioControl)(OrvlDevice device, uint32_t controlCode, void *buffer, uint32_t length);
    void (*sleepMs)(uint32_t milliseconds);
    /* Non-zero when the process runs under WOW64 (decides driver names). */
    int (*isWow64)(void);
    /* Installs the driver as a service and starts it; non-zero on success. */
    int (*installAndStart)(const char *serviceName, const char *displayName, const char *driverPath);
    /* Stops the service and, when stopped, removes it; 1 on success, else 0. */
    int (*stopAndRemove)(const char *serviceName);
    /* One line of diagnostic text for the debugger (or its stand-in). */
    void (*debugOutput)(const char *text);
} OrvlPlatform;

/* The table of the backend the library was built with. */
const OrvlPlatform *orvlPlatform(void);

#ifdef __cplusplus
}
#endif
#endif
