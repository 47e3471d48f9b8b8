#pragma once
// Carries out one request through the orvel library, within an open
// interface. Returns the library's status; text holds what to print on
// success (empty for the set commands), problem a reason when the library
// succeeded but what it read makes no answer (a clock that is no date).
#include "command_line.h"

#include <string>

namespace orvelctl {

int runRequest(const Request &request, std::string &text, std::string &problem);

} // namespace orvelctl
