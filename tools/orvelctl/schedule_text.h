#pragma once
// Schedules as orvelctl prints them (the typed syntax is schedule_syntax.h).
#include "orvel.h"
#include "schedule_syntax.h"

#include <cstdint>
#include <string>

namespace orvelctl {

using halden::formatDays;
using halden::formatTime;
using halden::parseDays;
using halden::parseTime;

// Several lines, ending in a newline.
std::string formatSchedule(int number, const ScheduleRecord &record);
// The fixed one-line form scripts read.
std::string scheduleJson(const ScheduleRecord &record);

} // namespace orvelctl
