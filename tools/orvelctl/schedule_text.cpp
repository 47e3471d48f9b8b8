#include "schedule_text.h"

#include "number_text.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace orvelctl {

namespace {

const char *const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int dayIndex(const std::string &name)
{
    static const char *const longNames[7] = {"sunday", "monday", "tuesday", "wednesday",
                                             "thursday", "friday", "saturday"};
    const std::string n = lower(name);
    for (int i = 0; i < 7; ++i)
        if (n == lower(kDayNames[i]) || n == longNames[i])
            return i;
    return -1;
}

std::vector<std::string> split(const std::string &text, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t pos = text.find(sep, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string::npos)
            return parts;
        start = pos + 1;
    }
}

} // namespace

bool parseDays(const std::string &text, uint8_t &mask)
{
    unsigned long number = 0;
    if (parseNumber(text, 0x7F, number)) {
        mask = static_cast<uint8_t>(number);
        return true;
    }
    const std::string t = lower(text);
    if (t == "all") {
        mask = 0x7F;
        return true;
    }
    if (t == "none") {
        mask = 0;
        return true;
    }
    uint8_t result = 0;
    for (const std::string &part : split(t, ',')) {
        if (part == "weekdays") {
            result |= 0x3E;
            continue;
        }
        if (part == "weekend") {
            result |= 0x41;
            continue;
        }
        const auto ends = split(part, '-');
        if (ends.size() > 2)
            return false;
        const int first = dayIndex(ends[0]);
        const int last = ends.size() == 2 ? dayIndex(ends[1]) : first;
        if (first < 0 || last < 0)
            return false;
        for (int d = first;; d = (d + 1) % 7) {
            result |= static_cast<uint8_t>(1u << d);
            if (d == last)
                break;
        }
    }
    mask = result;
    return true;
}

std::string formatDays(uint8_t mask)
{
    std::string out;
    for (int d = 0; d < 7; ++d) {
        if (mask & (1u << d)) {
            if (!out.empty())
                out += ' ';
            out += kDayNames[d];
        }
    }
    if (out.empty())
        out = "none";
    if (mask & 0x80)
        out += " +0x80";
    return out;
}

bool parseTime(const std::string &text, uint8_t &hour, uint8_t &minute)
{
    auto field = [](const std::string &digits, unsigned max, unsigned &value) {
        if (digits.empty() || digits.size() > 2)
            return false;
        value = 0;
        for (char c : digits) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return false;
            value = value * 10 + unsigned(c - '0');
        }
        return value <= max;
    };
    const auto parts = split(text, ':');
    unsigned h = 0, m = 0;
    if (parts.size() != 2 || parts[1].size() != 2 || !field(parts[0], 23, h) || !field(parts[1], 59, m))
        return false;
    hour = static_cast<uint8_t>(h);
    minute = static_cast<uint8_t>(m);
    return true;
}

std::string formatTime(uint8_t hour, uint8_t minute)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u", hour, minute);
    return buf;
}

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
