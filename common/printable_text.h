#pragma once
// Typed text quoted in a tool's one-line message: a control character (a
// newline, an escape sequence) would break the line or the terminal, so each
// shows as "?".
#include <string>

namespace halden {

inline std::string printableText(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

} // namespace halden
