#include "eeprom.h"

namespace kmui {

Eeprom::Eeprom()
{
    data_.fill(0xFF);
}

void Eeprom::saveState(StateMap &out) const
{
    out["eeprom-a0"] = bytesToHex(data_.data(), data_.size());
}

void Eeprom::loadState(const StateMap &in)
{
    auto it = in.find("eeprom-a0");
    if (it != in.end())
        hexToBytes(it->second, data_.data(), data_.size());
}

} // namespace kmui
