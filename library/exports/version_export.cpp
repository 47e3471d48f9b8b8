// The controller's version text, read one character per transaction.
#include <algorithm>
#include <cstring>

#include "core/library_state.h"
#include "core/register_map.h"
#include "core/smbus.h"
#include "orvel.h"

using namespace orvel;

int32_t ORVL_CALL ORVL_GetVersionString(char *text, int32_t length)
{
    // No text is copied for a length of 0 or below, so only then may it be null.
    if (!text && length > 0)
        return ORVL_ERR_NULL_POINTER;
    uint8_t *buffer = state().versionBuffer;
    for (int i = 0; i < kVersionLength; ++i) {
        if (int32_t status = smbusReadByte(kControllerAddress, uint8_t(kRegVersion + i), buffer[i]))
            return status;
        if (buffer[i] == 0)
            break;
    }
    // The buffer holds 16 bytes: a larger length must not read past it, and a
    // negative one copies nothing.
    const int32_t copy = std::clamp<int32_t>(length, 0, kVersionLength);
    if (copy > 0)
        std::memcpy(text, buffer, size_t(copy));
    return ORVL_OK;
}
