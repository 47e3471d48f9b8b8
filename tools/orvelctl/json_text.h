#pragma once
// Just enough JSON for one-line answers.
#include <string>

namespace orvelctl {

// A quoted JSON string; control characters and bytes above 0x7E escaped.
std::string jsonString(const std::string &text);

} // namespace orvelctl
