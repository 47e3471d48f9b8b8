#include "json_text.h"

#include <cstdio>

namespace orvelctl {

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            // Controller text is plain ASCII; anything else is shown, not trusted.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

} // namespace orvelctl
