// The real-time clock, read and written under the controller's hold bit so
// its six bytes do not move underneath the access.
#include "core/register_map.h"
#include "core/smbus.h"
#include "orvel.h"

using namespace orvel;

namespace {

int32_t setHold(bool hold) { return setControlBit(kControlClockHold, hold); }

} // namespace

int32_t ORVL_CALL ORVL_GetRTC(RtcRecord *rtc)
{
    if (!rtc)
        return ORVL_ERR_NULL_POINTER;
    // A failure past this point leaves the hold bit set; the next clock
    // access that succeeds clears it.
    if (int32_t status = setHold(true))
        return status;
    for (int k = 0; k < kClockLength; ++k) {
        uint8_t value = 0;
        if (int32_t status = smbusReadByte(kControllerAddress, uint8_t(kRegClock + k), value))
            return status;
        rtc->bytes[k] = value;
    }
    return setHold(false);
}

int32_t ORVL_CALL ORVL_SetRTC(const RtcRecord *rtc)
{
    if (!rtc)
        return ORVL_ERR_NULL_POINTER;
    if (int32_t status = setHold(true))
        return status;
    for (int k = 0; k < kClockLength; ++k) {
        if (int32_t status = smbusWriteByte(kControllerAddress, uint8_t(kRegClock + k), rtc->bytes[k]))
            return status;
    }
    return setHold(false);
}
