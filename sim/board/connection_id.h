#pragma once
// Which open device handle a driver request comes from. The firmware keeps
// each handle's SMBus transaction apart; in-process users are one handle.
#include <cstdint>

namespace kmui {

using ConnectionId = uint64_t;
constexpr ConnectionId kLocalConnection = 0;

} // namespace kmui
