#pragma once
// Week days and times as people type and read them, shared by the tools that
// set schedules (orvelctl schedule set, brimlet-send): one syntax for both.
// Plain C++, no Qt and no library types.
#include <cstdint>
#include <optional>
#include <string>

namespace halden {

// "mon-fri", "sat,sun", "mon,wed-fri", "all", "none", "weekdays", "weekend",
// or a mask number ("0x3E", "62"). Ranges may wrap ("fri-mon"). Bit 0 is Sunday.
bool parseDays(const std::string &text, uint8_t &mask);
// "Mon Tue Wed Thu Fri", "none"; bit 7 (no day) shows as "+0x80".
std::string formatDays(uint8_t mask);
// "Sun" .. "Sat" for 0 .. 6.
const char *dayName(int weekday);

// "8:30", "08:30"; hour 0-23, minute 0-59.
bool parseTime(const std::string &text, uint8_t &hour, uint8_t &minute);
std::string formatTime(uint8_t hour, uint8_t minute);

// A schedule change typed as options: what is not given stays as it was.
struct ScheduleEdit {
    std::optional<uint8_t> days;
    std::optional<bool> onEnabled, offEnabled;
    std::optional<uint8_t> onHour, onMinute, offHour, offMinute;
    bool empty() const { return !days && !onEnabled && !offEnabled; }
};

// "--days", "--on", "--off".
bool isScheduleOption(const std::string &option);
// --days MASK-OR-NAMES, --on HH:MM|on|off, --off HH:MM|on|off ("on" enables
// and keeps the time). False with a one-line reason.
bool applyScheduleOption(const std::string &option, const std::string &value, ScheduleEdit &edit,
                         std::string &error);

} // namespace halden
