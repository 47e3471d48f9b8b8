#pragma once
// The two request buffers the KMUI driver understands, laid out byte by byte
// (little-endian, packed) so the layout does not depend on the compiler.
#include <cstddef>
#include <cstdint>

namespace orvel {

constexpr uint32_t kPhysicalReadCode = 0xF1F82408u;
constexpr uint32_t kFirmwareCallCode = 0xF1F82418u;

// Physical memory read: address, a 16-bit 256, the count (7 sent, number of
// valid bytes returned), then 1024 bytes of memory.
struct PhysicalReadBlock {
    static constexpr size_t kSize = 1034;
    static constexpr size_t kDataOffset = 10;
    uint8_t bytes[kSize];

    explicit PhysicalReadBlock(uint32_t address);
    uint32_t count() const;
    const uint8_t *data() const { return bytes + kDataOffset; }
};

// Firmware call: port and code bytes, then EAX, EBX, ECX, EDX.
struct FirmwareCallBlock {
    static constexpr size_t kSize = 18;
    uint8_t bytes[kSize];

    FirmwareCallBlock(uint8_t callPort, uint8_t callCode, uint32_t eax, uint32_t ebx, uint32_t ecx,
                      uint32_t edx);
    uint32_t eax() const;
    uint32_t ebx() const;
    uint32_t ecx() const;
    uint32_t edx() const;
};

void putLe32(uint8_t *at, uint32_t value);
uint32_t getLe32(const uint8_t *at);

} // namespace orvel
