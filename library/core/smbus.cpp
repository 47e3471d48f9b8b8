#include "smbus.h"

#include "control_blocks.h"
#include "driver_session.h"
#include "library_state.h"
#include "orvel.h"

namespace orvel {

namespace {

constexpr uint32_t kReadyQuery = 0x00010000;
constexpr uint32_t kStartWrite = 0x00020000;
constexpr uint32_t kStartRead = 0x00020100;
constexpr uint32_t kDoneQuery = 0x00030000;

FirmwareCallBlock call(uint32_t ebx, uint32_t ecx)
{
    const LibraryState &s = state();
    FirmwareCallBlock block(s.callPort, s.callCode, 0, ebx, ecx, 0);
    s.session->request(kFirmwareCallCode, block.bytes, sizeof block.bytes);
    return block;
}

int32_t checkSession()
{
    const LibraryState &s = state();
    if (!s.session)
        return ORVL_ERR_NO_SESSION;
    if (!s.firmwareVerified)
        return ORVL_ERR_NOT_VERIFIED;
    return ORVL_OK;
}

// Queries until bit 0 of EAX shows; the 100th reply is not looked at. The
// last reply is handed back for the byte a done query carries.
bool waitFor(uint32_t query, FirmwareCallBlock *reply)
{
    for (int n = 1;; ++n) {
        *reply = call(query, 0);
        if (n == kWaitQueries)
            return false;
        orvlPlatform()->sleepMs(kPauseMs);
        if (reply->eax() & 1)
            return true;
    }
}

int32_t transact(uint32_t start, uint32_t ecx, uint8_t *readValue)
{
    if (int32_t status = checkSession())
        return status;
    FirmwareCallBlock reply(0, 0, 0, 0, 0, 0);
    if (!waitFor(kReadyQuery, &reply))
        return ORVL_ERR_TIMEOUT;
    call(start, ecx);
    orvlPlatform()->sleepMs(kPauseMs);
    if (!waitFor(kDoneQuery, &reply)) {
        if (readValue)
            *readValue = 0xFF;
        return ORVL_ERR_TIMEOUT;
    }
    if (readValue)
        *readValue = uint8_t(reply.ebx());
    return ORVL_OK;
}

} // namespace

int32_t smbusReadByte(uint8_t address, uint8_t reg, uint8_t *value)
{
    return transact(kStartRead + address, uint32_t(reg) << 8, value);
}

int32_t smbusWriteByte(uint8_t address, uint8_t reg, uint8_t value)
{
    return transact(kStartWrite + address, (uint32_t(reg) << 8) + value, nullptr);
}

} // namespace orvel
