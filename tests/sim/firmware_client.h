#pragma once
// Speaks to a simulated board the way the library does, over any transport
// that hands a driver buffer to the board and brings it back: the in-process
// Board, or a socket to kmui-sim.
#include <cstdint>
#include <functional>
#include <vector>

namespace halden::test {

struct Registers {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

class FirmwareClient {
public:
    using Transport = std::function<void(uint32_t code, std::vector<uint8_t> &buffer)>;
    explicit FirmwareClient(Transport transport, uint8_t port = 0xB2, uint8_t code = 0xEE);

    Registers call(const Registers &in);
    Registers call(uint32_t ebx, uint32_t ecx) { return call(Registers{0, ebx, ecx, 0}); }

    // Whole physical read block as returned.
    std::vector<uint8_t> physicalRead(uint32_t address, uint32_t count = 7);

    // Queries until the bit shows, up to limit; the query it showed on, or 0.
    int waitReady(int limit = 100);
    int waitDone(uint8_t *value = nullptr, int limit = 100);
    // Full transactions (ready, start, done); false when a wait ran out.
    bool read(uint8_t address, uint8_t reg, uint8_t &value);
    bool write(uint8_t address, uint8_t reg, uint8_t value);

private:
    Transport transport_;
    uint8_t port_, code_;
};

} // namespace halden::test
