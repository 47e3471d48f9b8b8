#pragma once
// The one line a failing orvelctl prints for a library status.
#include <string>

namespace orvelctl {

std::string statusMessage(int status);
// The line for a failure whose last driver request got no reply at all.
std::string noAnswerMessage(int status);

} // namespace orvelctl
