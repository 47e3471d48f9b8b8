#pragma once
// One device on the simulated SMBus. busRead/busWrite are what a firmware-run
// transaction sees (read-only and write-only registers honoured); peek/poke
// are the direct access tests and the state file use.
#include <cstdint>
#include <map>
#include <string>

namespace kmui {

using StateMap = std::map<std::string, std::string>;

class SmbusDevice {
public:
    virtual ~SmbusDevice() = default;
    virtual uint8_t busRead(uint8_t reg) = 0;
    virtual void busWrite(uint8_t reg, uint8_t value) = 0;
    virtual uint8_t peek(uint8_t reg) const = 0;
    virtual void poke(uint8_t reg, uint8_t value) = 0;

    // Persistence as key/value pairs; keys carry the device's own prefix.
    virtual void saveState(StateMap &out) const = 0;
    virtual void loadState(const StateMap &in) = 0;
};

// 256 bytes as hex text and back; a malformed text leaves the bytes alone.
std::string bytesToHex(const uint8_t *bytes, size_t count);
bool hexToBytes(const std::string &hex, uint8_t *bytes, size_t count);

} // namespace kmui
