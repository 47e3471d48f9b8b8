#include "control_blocks.h"

#include <cstring>

namespace orvel {

void putLe32(uint8_t *at, uint32_t value)
{
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
    at[2] = uint8_t(value >> 16);
    at[3] = uint8_t(value >> 24);
}

uint32_t getLe32(const uint8_t *at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

PhysicalReadBlock::PhysicalReadBlock(uint32_t address)
{
    std::memset(bytes, 0, sizeof bytes);
    putLe32(bytes, address);
    bytes[4] = 0x00;  // 256, 16 bits
    bytes[5] = 0x01;
    putLe32(bytes + 6, 7);
}

uint32_t PhysicalReadBlock::count() const
{
    return getLe32(bytes + 6);
}

FirmwareCallBlock::FirmwareCallBlock(uint8_t callPort, uint8_t callCode, uint32_t eax, uint32_t ebx,
                                     uint32_t ecx, uint32_t edx)
{
    bytes[0] = callPort;
    bytes[1] = callCode;
    putLe32(bytes + 2, eax);
    putLe32(bytes + 6, ebx);
    putLe32(bytes + 10, ecx);
    putLe32(bytes + 14, edx);
}

uint32_t FirmwareCallBlock::eax() const { return getLe32(bytes + 2); }
uint32_t FirmwareCallBlock::ebx() const { return getLe32(bytes + 6); }
uint32_t FirmwareCallBlock::ecx() const { return getLe32(bytes + 10); }
uint32_t FirmwareCallBlock::edx() const { return getLe32(bytes + 14); }

} // namespace orvel
