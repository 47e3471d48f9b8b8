#include "smbus.h"

#include "control_blocks.h"
#include "driver_session.h"
#include "library_state.h"
#include "orvel.h"
#include "register_map.h"

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

enum class Phase { NotStarted, Started, Done };

// Runs the three phases; on Done, `reply` is the done query's answer.
Phase transact(uint32_t start, uint32_t ecx, FirmwareCallBlock &reply)
{
    if (!waitFor(kReadyQuery, &reply))
        return Phase::NotStarted;
    call(start, ecx);
    orvlPlatform()->sleepMs(kPauseMs);
    return waitFor(kDoneQuery, &reply) ? Phase::Done : Phase::Started;
}

} // namespace

int32_t smbusReadByte(uint8_t address, uint8_t reg, uint8_t &value)
{
    if (int32_t status = checkSession())
        return status;
    FirmwareCallBlock reply(0, 0, 0, 0, 0, 0);
    switch (transact(kStartRead + address, uint32_t(reg) << 8, reply)) {
    case Phase::NotStarted:
        return ORVL_ERR_TIMEOUT;
    case Phase::Started:
        value = 0xFF;
        return ORVL_ERR_TIMEOUT;
    case Phase::Done:
        break;
    }
    value = uint8_t(reply.ebx());
    return ORVL_OK;
}

int32_t smbusWriteByte(uint8_t address, uint8_t reg, uint8_t value)
{
    if (int32_t status = checkSession())
        return status;
    FirmwareCallBlock reply(0, 0, 0, 0, 0, 0);
    return transact(kStartWrite + address, (uint32_t(reg) << 8) + value, reply) == Phase::Done ? ORVL_OK
                                                                                                 : ORVL_ERR_TIMEOUT;
}

int32_t setControlBit(uint8_t bit, bool set)
{
    uint8_t control = 0;
    if (int32_t status = smbusReadByte(kControllerAddress, kRegControl, control))
        return status;
    control = set ? uint8_t(control | bit) : uint8_t(control & ~bit);
    return smbusWriteByte(kControllerAddress, kRegControl, control);
}

} // namespace orvel
