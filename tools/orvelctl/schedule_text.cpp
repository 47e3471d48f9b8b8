#include "schedule_text.h"

#include <cstdio>

namespace orvelctl {

std::string formatSchedule(int number, const ScheduleRecord &r)
{
    char days[8];
    std::snprintf(days, sizeof days, "0x%02X", r.activeDays);
    std::string out = "schedule " + std::to_string(number) + "\n";
    out += "  days:      " + formatDays(r.activeDays) + " (" + days + ")\n";
    out += "  power on:  " + formatTime(r.onHour, r.onMinute) + ((r.enableFlags & 1) ? " on" : " off") + "\n";
    out += "  power off: " + formatTime(r.offHour, r.offMinute) + ((r.enableFlags & 2) ? " on" : " off") + "\n";
    return out;
}

std::string scheduleJson(const ScheduleRecord &r)
{
    return "{\"onHour\":" + std::to_string(r.onHour) + ",\"onMinute\":" + std::to_string(r.onMinute)
        + ",\"offHour\":" + std::to_string(r.offHour) + ",\"offMinute\":" + std::to_string(r.offMinute)
        + ",\"enableFlags\":" + std::to_string(r.enableFlags) + ",\"activeDays\":" + std::to_string(r.activeDays)
        + "}";
}

} // namespace orvelctl
