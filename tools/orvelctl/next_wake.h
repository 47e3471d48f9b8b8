#pragma once
// When the board's schedules fire next, on the board's own clock (read as
// orvelctl clock reads it: UTC, year 2000 + byte).
#include "orvel.h"

#include <ctime>
#include <optional>
#include <string>

namespace orvelctl {

// Seconds since 1970 of a clock record, or nothing when its bytes are no date.
std::optional<std::time_t> clockSeconds(const RtcRecord &clock);

// The first moment at or after `now` when HH:MM:00 falls on a day of `days`
// (bit 0 Sunday .. bit 6 Saturday); nothing when no day is active or the
// time is out of range. A time equal to now counts as now.
std::optional<std::time_t> nextFiring(std::time_t now, uint8_t days, uint8_t hour, uint8_t minute);

// The whole report of `orvelctl schedule next`, text or one JSON line.
// False (with a reason) when the board's clock holds no valid date.
bool nextWakeReport(const RtcRecord &clock, const ScheduleRecord (&schedules)[4], bool json, std::string &text,
                    std::string &error);

} // namespace orvelctl
