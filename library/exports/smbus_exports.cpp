// Raw SMBus byte access for any device but the protected ones.
#include "core/register_map.h"
#include "core/smbus.h"
#include "orvel.h"

using namespace orvel;

int32_t ORVL_CALL ORVL_SMBusRead(int32_t address, int32_t reg, uint8_t *value)
{
    if (!value)
        return ORVL_ERR_NULL_POINTER;
    return smbusReadByte(uint8_t(address), uint8_t(reg), *value);
}

int32_t ORVL_CALL ORVL_SMBusWrite(int32_t address, int32_t reg, const uint8_t *value)
{
    // Refused before anything else: the EEPROMs and the controller itself
    // must not be written through the raw path.
    if (isProtectedAddress(uint8_t(address)))
        return ORVL_ERR_PROTECTED;
    if (!value)
        return ORVL_ERR_NULL_POINTER;
    return smbusWriteByte(uint8_t(address), uint8_t(reg), *value);
}
