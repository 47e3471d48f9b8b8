#pragma once
// A plain 256-byte EEPROM: every register reads and writes, erased to 0xFF.
#include "smbus_device.h"

#include <array>

namespace kmui {

class Eeprom : public SmbusDevice {
public:
    Eeprom();
    uint8_t busRead(uint8_t reg) override { return data_[reg]; }
    void busWrite(uint8_t reg, uint8_t value) override { data_[reg] = value; }
    uint8_t peek(uint8_t reg) const override { return data_[reg]; }
    void poke(uint8_t reg, uint8_t value) override { data_[reg] = value; }
    void saveState(StateMap &out) const override;
    void loadState(const StateMap &in) override;

private:
    std::array<uint8_t, 256> data_;
};

} // namespace kmui
