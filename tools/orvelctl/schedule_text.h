#pragma once
// Schedules as people write and read them: day names, HH:MM, on/off.
#include "orvel.h"

#include <cstdint>
#include <string>

namespace orvelctl {

// "mon-fri", "sat,sun", "mon,wed-fri", "all", "none", "weekdays", "weekend",
// or a mask number ("0x3E", "62"). Ranges may wrap ("fri-mon").
bool parseDays(const std::string &text, uint8_t &mask);
// "Mon Tue Wed Thu Fri", "none"; bit 7 (no day) shows as "+0x80".
std::string formatDays(uint8_t mask);

// "8:30", "08:30"; hour 0-23, minute 0-59.
bool parseTime(const std::string &text, uint8_t &hour, uint8_t &minute);
std::string formatTime(uint8_t hour, uint8_t minute);

// Several lines, ending in a newline.
std::string formatSchedule(int number, const ScheduleRecord &record);
// The fixed one-line form scripts read.
std::string scheduleJson(const ScheduleRecord &record);

} // namespace orvelctl
