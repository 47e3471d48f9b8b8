#include "kmui_framing.h"

#include <string.h>

void kmuiPutRequestHeader(unsigned char out[KMUI_REQUEST_HEADER_SIZE], uint32_t controlCode, uint32_t length)
{
    memcpy(out, &controlCode, 4);
    memcpy(out + 4, &length, 4);
}

void kmuiPutReplyHeader(unsigned char out[KMUI_REPLY_HEADER_SIZE], uint32_t length)
{
    memcpy(out, &length, 4);
}

uint32_t kmuiGetU32(const unsigned char *p)
{
    uint32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

KmuiFrameStatus kmuiNextRequest(const unsigned char *data, size_t size, uint32_t *controlCode, uint32_t *length)
{
    if (size < KMUI_REQUEST_HEADER_SIZE)
        return KMUI_FRAME_INCOMPLETE;
    const uint32_t n = kmuiGetU32(data + 4);
    if (n > KMUI_MAX_REQUEST_LENGTH)
        return KMUI_FRAME_INVALID;
    if (size - KMUI_REQUEST_HEADER_SIZE < n)
        return KMUI_FRAME_INCOMPLETE;
    *controlCode = kmuiGetU32(data);
    *length = n;
    return KMUI_FRAME_COMPLETE;
}
