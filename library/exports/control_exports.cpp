// Single-register exports: power resume, feature bitmap, miscellaneous
// control and the power-on-after-shutdown tick.
#include "core/register_map.h"
#include "core/smbus.h"
#include "orvel.h"

using namespace orvel;

int32_t ORVL_CALL ORVL_GetPwrResume(int32_t *enabled)
{
    if (!enabled)
        return ORVL_ERR_NULL_POINTER;
    uint8_t control = 0;
    const int32_t status = smbusReadByte(kControllerAddress, kRegControl, control);
    *enabled = control & kControlPowerResume;  // stored whatever the status
    return status;
}

int32_t ORVL_CALL ORVL_SetPwrResume(const int32_t *enabled)
{
    if (!enabled)
        return ORVL_ERR_NULL_POINTER;
    return setControlBit(kControlPowerResume, *enabled != 0);
}

int32_t ORVL_CALL ORVL_GetFeatureBitmap(uint32_t *bitmap)
{
    if (!bitmap)
        return ORVL_ERR_NULL_POINTER;
    uint8_t features = 0;
    const int32_t status = smbusReadByte(kControllerAddress, kRegFeatures, features);
    *bitmap = status == ORVL_OK ? features : 0;
    return status;
}

int32_t ORVL_CALL ORVL_GetMiscCtrl(uint8_t *value)
{
    if (!value)
        return ORVL_ERR_NULL_POINTER;
    return smbusReadByte(kControllerAddress, kRegMisc, *value);
}

int32_t ORVL_CALL ORVL_SetMiscCtrl(const uint8_t *value)
{
    if (!value)
        return ORVL_ERR_NULL_POINTER;
    return smbusWriteByte(kControllerAddress, kRegMisc, *value);
}

int32_t ORVL_CALL ORVL_SetPwrOnAfterShutdownTick(const uint8_t *value)
{
    if (!value)
        return ORVL_ERR_NULL_POINTER;
    return smbusWriteByte(kControllerAddress, kRegPowerOnTick, *value);
}
