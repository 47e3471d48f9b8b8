#pragma once
// The controller's six clock bytes as a date and time. The controller keeps
// second, minute, hour, day, month and year - 2000, binary, UTC.
#include "orvel.h"

#include <ctime>
#include <string>

namespace orvelctl {

// "2026-12-09 21:30:15"
std::string formatClock(const RtcRecord &clock);
// "YYYY-MM-DD HH:MM:SS" or with a "T" between; years 2000-2255.
bool parseClock(const std::string &text, RtcRecord &clock);
RtcRecord clockFromTime(std::time_t t);

} // namespace orvelctl
