#pragma once
// The Orvel controller's registers at SMBus address 0xAE.
#include <cstdint>

namespace orvel {

constexpr uint8_t kControllerAddress = 0xAE;

constexpr uint8_t kRegVersion = 0x00;  // 16 bytes of text
constexpr int kVersionLength = 16;
constexpr uint8_t kRegFeatures = 0x18;
constexpr uint8_t kRegControl = 0x19;
constexpr uint8_t kControlPowerResume = 0x01;
constexpr uint8_t kControlClockHold = 0x08;
constexpr uint8_t kRegClock = 0x20;  // six bytes
constexpr int kClockLength = 6;
constexpr uint8_t kRegMisc = 0x80;
constexpr uint8_t kRegPowerOnTick = 0x81;

// Schedule blocks 1 to 4.
constexpr uint8_t kScheduleBase[4] = {0x30, 0x40, 0x50, 0x60};
constexpr int kScheduleLength = 6;
// Record byte that register B+i holds: the controller keeps the enable flags
// and days first, the record keeps the times first.
constexpr int kScheduleRecordByte[kScheduleLength] = {4, 5, 0, 1, 2, 3};

// Devices ORVL_SMBusWrite refuses: the EEPROMs at 0xA0 to 0xA7 and the controller.
inline bool isProtectedAddress(uint8_t address)
{
    return (address >= 0xA0 && address <= 0xA7) || address == kControllerAddress;
}

} // namespace orvel
