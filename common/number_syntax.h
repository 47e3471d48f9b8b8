#pragma once
// Numbers as the command-line tools take them: decimal, or hexadecimal after "0x". A leading
// zero does not mean octal: "08" is eight.
#include <string>

namespace halden {

bool parseNumber(const std::string &text, unsigned long max, unsigned long &value);
std::string hexByte(unsigned value);  // "0x3E"

} // namespace halden
