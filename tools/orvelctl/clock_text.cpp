#include "clock_text.h"

#include <cstdio>

namespace orvelctl {

std::string formatClock(const RtcRecord &c)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 2000u + c.bytes[5], c.bytes[4], c.bytes[3],
                  c.bytes[2], c.bytes[1], c.bytes[0]);
    return buf;
}

namespace {

unsigned daysInMonth(unsigned year, unsigned month)
{
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

} // namespace

bool parseClock(const std::string &text, RtcRecord &clock)
{
    // Exactly "YYYY-MM-DD?HH:MM:SS": digits where digits belong, nothing else.
    static const char shape[] = "dddd-dd-dd?dd:dd:dd";
    if (text.size() != sizeof shape - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = shape[i] == 'd' ? (c >= '0' && c <= '9') : shape[i] == '?' ? (c == ' ' || c == 'T') : c == shape[i];
        if (!ok)
            return false;
    }
    auto num = [&text](size_t at, size_t len) {
        unsigned v = 0;
        for (size_t i = at; i < at + len; ++i)
            v = v * 10 + unsigned(text[i] - '0');
        return v;
    };
    const unsigned y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2);
    if (y < 2000 || y > 2255 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59
        || s > 59)
        return false;
    const unsigned bytes[6] = {s, mi, h, d, mo, y - 2000};
    for (int i = 0; i < 6; ++i)
        clock.bytes[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

RtcRecord clockFromTime(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    const int year = tm.tm_year + 1900 - 2000;
    RtcRecord c{};
    c.bytes[0] = static_cast<uint8_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    c.bytes[1] = static_cast<uint8_t>(tm.tm_min);
    c.bytes[2] = static_cast<uint8_t>(tm.tm_hour);
    c.bytes[3] = static_cast<uint8_t>(tm.tm_mday);
    c.bytes[4] = static_cast<uint8_t>(tm.tm_mon + 1);
    c.bytes[5] = static_cast<uint8_t>(year < 0 ? 0 : (year > 255 ? 255 : year));
    return c;
}

} // namespace orvelctl
