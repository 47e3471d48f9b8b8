#pragma once
// Days and times as the tools' --help gives their syntax, written apart from
// the code under test so that fuzz targets can compare with it: times H:MM or
// HH:MM with hours 0-23 and minutes 0-59, on/yes and off/no; days as a mask up
// to 0x7F (decimal or 0x hexadecimal, at most 10 digits) or day names (short
// or long, any case), ranges that may wrap, "weekdays", "weekend", "all" and
// "none".
#include "schedule_syntax.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace halden::fuzz {

inline std::string lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

inline bool allDigits(const std::string &s, size_t from = 0)
{
    if (s.size() <= from)
        return false;
    for (size_t i = from; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

// A number up to `max`, decimal or 0x hexadecimal, at most 10 digits.
inline std::optional<unsigned long> refNumber(const std::string &s, unsigned long max)
{
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const std::string digits = hex ? s.substr(2) : s;
    if (digits.empty() || digits.size() > 10)
        return std::nullopt;
    for (char c : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return std::nullopt;
    const unsigned long v = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    return v <= max ? std::optional<unsigned long>(v) : std::nullopt;
}

struct RefTime {
    bool enabled;
    std::optional<std::pair<int, int>> time;
};

inline std::optional<RefTime> refTime(const std::string &s)
{
    if (s == "on" || s == "yes")
        return RefTime{true, std::nullopt};
    if (s == "off" || s == "no")
        return RefTime{false, std::nullopt};
    const size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || s.size() != colon + 3)
        return std::nullopt;
    const std::string h = s.substr(0, colon), m = s.substr(colon + 1);
    if (!allDigits(h) || !allDigits(m))
        return std::nullopt;
    const int hour = std::stoi(h), minute = std::stoi(m);
    if (hour > 23 || minute > 59)
        return std::nullopt;
    return RefTime{true, std::make_pair(hour, minute)};
}

inline int refDay(const std::string &name)
{
    static const char *const names[7][2] = {{"sun", "sunday"},   {"mon", "monday"}, {"tue", "tuesday"},
                                            {"wed", "wednesday"}, {"thu", "thursday"}, {"fri", "friday"},
                                            {"sat", "saturday"}};
    for (int d = 0; d < 7; ++d)
        if (name == names[d][0] || name == names[d][1])
            return d;
    return -1;
}

inline std::optional<int> refDays(const std::string &text)
{
    if (const auto n = refNumber(text, 0x7F))
        return int(*n);
    const std::string t = lower(text);
    if (t == "all")
        return 0x7F;
    if (t == "none")
        return 0;
    int mask = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = t.find(',', start);
        const std::string part = t.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part == "weekdays") {
            mask |= 0x3E;
        } else if (part == "weekend") {
            mask |= 0x41;
        } else {
            const size_t dash = part.find('-');
            if (dash != std::string::npos && part.find('-', dash + 1) != std::string::npos)
                return std::nullopt;
            const int first = refDay(part.substr(0, dash));
            const int last = dash == std::string::npos ? first : refDay(part.substr(dash + 1));
            if (first < 0 || last < 0)
                return std::nullopt;
            for (int d = first;; d = (d + 1) % 7) {
                mask |= 1 << d;
                if (d == last)
                    break;
            }
        }
        if (comma == std::string::npos)
            return mask;
        start = comma + 1;
    }
}

enum class RefOption { Applied, Refused, NotASchedule };

// One "--days/--on/--off VALUE" applied to edit as the syntax has it.
inline RefOption refApply(const std::string &option, const std::string &value, halden::ScheduleEdit &edit)
{
    if (option == "--days") {
        const auto d = refDays(value);
        if (!d)
            return RefOption::Refused;
        edit.days = uint8_t(*d);
        return RefOption::Applied;
    }
    if (option != "--on" && option != "--off")
        return RefOption::NotASchedule;
    const auto t = refTime(value);
    if (!t)
        return RefOption::Refused;
    const bool on = option == "--on";
    (on ? edit.onEnabled : edit.offEnabled) = t->enabled;
    if (t->time) {
        (on ? edit.onHour : edit.offHour) = uint8_t(t->time->first);
        (on ? edit.onMinute : edit.offMinute) = uint8_t(t->time->second);
    }
    return RefOption::Applied;
}

// The same values in both: what was not given stays unset in both.
inline bool sameEdit(const halden::ScheduleEdit &a, const halden::ScheduleEdit &b)
{
    return a.days == b.days && a.onEnabled == b.onEnabled && a.offEnabled == b.offEnabled && a.onHour == b.onHour
           && a.onMinute == b.onMinute && a.offHour == b.offHour && a.offMinute == b.offMinute;
}

} // namespace halden::fuzz
