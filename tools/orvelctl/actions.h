#pragma once
// Carries out one request through the orvel library, within an open
// interface. Returns the library's status; text holds what to print on
// success (empty for the set commands).
#include "command_line.h"

#include <string>

namespace orvelctl {

int runRequest(const Request &request, std::string &text);

} // namespace orvelctl
