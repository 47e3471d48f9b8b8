#ifndef KMUI_FRAMING_H
#define KMUI_FRAMING_H
/* The bytes between the library's POSIX platform and kmui-sim. One connection
 * is one open device handle. A request is
 *   uint32 control code, uint32 length, length bytes (host byte order);
 * the reply is
 *   uint32 length, length bytes
 * carrying the buffer as the driver leaves it (same length as sent). */
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KMUI_REQUEST_HEADER_SIZE = 8,
    KMUI_REPLY_HEADER_SIZE = 4,
    /* Larger requests are not driver requests: the server drops the client
     * rather than buffer without bound. */
    KMUI_MAX_REQUEST_LENGTH = 64 * 1024
};

typedef enum KmuiFrameStatus {
    KMUI_FRAME_INCOMPLETE = 0, /* more bytes are needed */
    KMUI_FRAME_COMPLETE = 1,   /* a whole request is at the front */
    KMUI_FRAME_INVALID = 2     /* the stream cannot be a request stream */
} KmuiFrameStatus;

void kmuiPutRequestHeader(unsigned char out[KMUI_REQUEST_HEADER_SIZE], uint32_t controlCode, uint32_t length);
void kmuiPutReplyHeader(unsigned char out[KMUI_REPLY_HEADER_SIZE], uint32_t length);
uint32_t kmuiGetU32(const unsigned char *p);

/* Looks at the front of a received request stream. On COMPLETE the request's
 * code and length are filled in; its bytes follow the header. */
KmuiFrameStatus kmuiNextRequest(const unsigned char *data, size_t size, uint32_t *controlCode, uint32_t *length);

#ifdef __cplusplus
}
#endif
#endif
