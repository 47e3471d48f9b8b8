#include "schedule_syntax.h"

#include "number_syntax.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace halden {

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

const char *dayName(int weekday)
{
    return weekday >= 0 && weekday < 7 ? kDayNames[weekday] : "?";
}

namespace {

bool onOff(const std::string &text, bool &value)
{
    if (text == "on" || text == "yes") {
        value = true;
        return true;
    }
    if (text == "off" || text == "no") {
        value = false;
        return true;
    }
    return false;
}

bool switchTime(const std::string &option, const std::string &text, std::optional<bool> &enabled,
                std::optional<uint8_t> &hour, std::optional<uint8_t> &minute, std::string &error)
{
    bool flag = false;
    if (onOff(text, flag)) {
        enabled = flag;
        return true;
    }
    uint8_t h = 0, m = 0;
    if (!parseTime(text, h, m)) {
        error = "bad time '" + text + "' for " + option + " (HH:MM, on or off)";
        return false;
    }
    enabled = true;
    hour = h;
    minute = m;
    return true;
}

} // namespace

bool isScheduleOption(const std::string &option)
{
    return option == "--days" || option == "--on" || option == "--off";
}

bool applyScheduleOption(const std::string &option, const std::string &value, ScheduleEdit &edit,
                         std::string &error)
{
    if (option == "--days") {
        uint8_t mask = 0;
        if (!parseDays(value, mask)) {
            error = "bad days '" + value + "' (e.g. mon-fri, sat,sun, all, none)";
            return false;
        }
        edit.days = mask;
        return true;
    }
    if (option == "--on")
        return switchTime(option, value, edit.onEnabled, edit.onHour, edit.onMinute, error);
    if (option == "--off")
        return switchTime(option, value, edit.offEnabled, edit.offHour, edit.offMinute, error);
    error = "unknown option '" + option + "'";
    return false;
}

} // namespace halden
