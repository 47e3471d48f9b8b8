#pragma once
// One SMBus byte transaction, run by the firmware in three phases: wait until
// it is ready, start, wait until it is done. Status 0, 1, 2 or 5.
#include <cstdint>

namespace orvel {

constexpr int kWaitQueries = 100;
constexpr uint32_t kPauseMs = 10;

// A read that runs out waiting for the done bit gives 0xFF; one that runs out
// before it started leaves `value` as it was.
int32_t smbusReadByte(uint8_t address, uint8_t reg, uint8_t &value);
int32_t smbusWriteByte(uint8_t address, uint8_t reg, uint8_t value);

// Read-modify-write of one bit of the control register 0x19 (clock hold,
// power resume).
int32_t setControlBit(uint8_t bit, bool set);

} // namespace orvel
