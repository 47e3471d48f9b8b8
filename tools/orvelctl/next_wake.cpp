#include "next_wake.h"

#include "clock_text.h"
#include "json_text.h"
#include "schedule_syntax.h"

#include <cstdio>
#include <vector>

namespace orvelctl {

namespace {

const std::time_t kDay = 24 * 60 * 60;

// "Mon 2026-12-14 08:30"
std::string moment(std::time_t t, bool withWeekday)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min);
    return withWeekday ? std::string(halden::dayName(tm.tm_wday)) + " " + buf : std::string(buf);
}

std::string weekday(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    return halden::dayName(tm.tm_wday);
}

struct Event {
    int schedule;
    const char *kind; // "on" or "off"
    std::time_t at;
};

} // namespace

std::optional<std::time_t> clockSeconds(const RtcRecord &c)
{
    const std::string text = formatClock(c);
    RtcRecord checked{};
    if (!parseClock(text, checked))
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = 2000 + c.bytes[5] - 1900;
    tm.tm_mon = c.bytes[4] - 1;
    tm.tm_mday = c.bytes[3];
    tm.tm_hour = c.bytes[2];
    tm.tm_min = c.bytes[1];
    tm.tm_sec = c.bytes[0];
    return timegm(&tm);
}

std::optional<std::time_t> nextFiring(std::time_t now, uint8_t days, uint8_t hour, uint8_t minute)
{
    if ((days & 0x7F) == 0 || hour > 23 || minute > 59)
        return std::nullopt;
    const std::time_t midnight = now - ((now % kDay) + kDay) % kDay;
    // Eight days: today's time may have passed, and the same week day then
    // comes round again a week later.
    for (int d = 0; d <= 7; ++d) {
        const std::time_t day = midnight + d * kDay;
        std::tm tm{};
        gmtime_r(&day, &tm);
        if (!(days & (1u << tm.tm_wday)))
            continue;
        const std::time_t at = day + hour * 3600 + minute * 60;
        if (at >= now)
            return at;
    }
    return std::nullopt;
}

bool nextWakeReport(const RtcRecord &clock, const ScheduleRecord (&schedules)[4], bool json, std::string &text,
                    std::string &error)
{
    const std::optional<std::time_t> now = clockSeconds(clock);
    if (!now) {
        error = "the board's clock holds no valid date (" + formatClock(clock) + ")";
        return false;
    }
    std::vector<Event> all;
    std::string lines = "board clock: " + weekday(*now) + " " + formatClock(clock) + "\n";
    std::string items;
    for (int i = 0; i < 4; ++i) {
        const ScheduleRecord &r = schedules[i];
        const int n = i + 1;
        const std::string name = "schedule " + std::to_string(n);
        const bool onEnabled = r.enableFlags & 1, offEnabled = r.enableFlags & 2;
        std::string state = "active";
        if ((r.activeDays & 0x7F) == 0)
            state = "no active day";
        else if (!onEnabled && !offEnabled)
            state = "both times disabled";
        const bool timesApply = state == "active";
        std::optional<std::time_t> on, off;
        if (timesApply && onEnabled)
            on = nextFiring(*now, r.activeDays, r.onHour, r.onMinute);
        if (timesApply && offEnabled)
            off = nextFiring(*now, r.activeDays, r.offHour, r.offMinute);
        if (timesApply && ((onEnabled && !on) || (offEnabled && !off)))
            state = "time out of range";
        // "schedule 3: power on  Mon 2026-12-14 08:30", or why there is no date.
        auto eventLine = [&](const char *label, const std::optional<std::time_t> &at, uint8_t hour, uint8_t minute) {
            return name + ": " + label + " "
                + (at ? moment(*at, true) : "time out of range (" + halden::formatTime(hour, minute) + ")") + "\n";
        };
        if (!timesApply)
            lines += name + ": " + state + "\n";
        if (timesApply && onEnabled)
            lines += eventLine("power on ", on, r.onHour, r.onMinute);
        if (timesApply && offEnabled)
            lines += eventLine("power off", off, r.offHour, r.offMinute);
        if (on)
            all.push_back({n, "on", *on});
        if (off)
            all.push_back({n, "off", *off});
        auto jsonMoment = [](const std::optional<std::time_t> &t) {
            return t ? "{\"at\":" + jsonString(moment(*t, false)) + ",\"weekday\":" + jsonString(weekday(*t)) + "}"
                     : std::string("null");
        };
        items += std::string(items.empty() ? "" : ",") + "{\"schedule\":" + std::to_string(n)
            + ",\"state\":" + jsonString(state) + ",\"powerOn\":" + jsonMoment(on) + ",\"powerOff\":" + jsonMoment(off)
            + "}";
    }
    const Event *first = nullptr;
    for (const Event &e : all)
        if (!first || e.at < first->at)
            first = &e;
    if (first)
        lines += "next: power " + std::string(first->kind) + " of schedule " + std::to_string(first->schedule) + " at "
            + moment(first->at, true) + "\n";
    else
        lines += "next: nothing is scheduled\n";
    if (!json) {
        text = lines;
        return true;
    }
    text = "{\"clock\":" + jsonString(formatClock(clock)) + ",\"schedules\":[" + items + "],\"next\":"
        + (first ? "{\"schedule\":" + std::to_string(first->schedule) + ",\"event\":" + jsonString(first->kind)
                       + ",\"at\":" + jsonString(moment(first->at, false)) + ",\"weekday\":"
                       + jsonString(weekday(first->at)) + "}"
                 : std::string("null"))
        + "}\n";
    return true;
}

} // namespace orvelctl
