#include "number_syntax.h"

#include <cctype>
#include <cstdio>

namespace halden {

bool parseNumber(const std::string &text, unsigned long max, unsigned long &value)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10)
        return false;
    unsigned long v = 0;
    for (char c : digits) {
        const unsigned char u = static_cast<unsigned char>(c);
        int d;
        if (std::isdigit(u))
            d = c - '0';
        else if (hex && std::isxdigit(u))
            d = std::tolower(u) - 'a' + 10;
        else
            return false;
        v = v * (hex ? 16 : 10) + static_cast<unsigned long>(d);
        if (v > max)
            return false;
    }
    value = v;
    return true;
}

std::string hexByte(unsigned value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", value & 0xFFu);
    return buf;
}

} // namespace halden
