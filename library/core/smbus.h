#pragma once
// One SMBus byte transaction, run by the firmware in three phases: wait until
// it is ready, start, wait until it is done. Status 0, 1, 2 or 5.
#include <cstdint>

namespace orvel {

constexpr int kWaitQueries = 100;
constexpr uint32_t kPauseMs = 10;

int32_t smbusReadByte(uint8_t address, uint8_t reg, uint8_t *value);
int32_t smbusWriteByte(uint8_t address, uint8_t reg, uint8_t value);

} // namespace orvel
