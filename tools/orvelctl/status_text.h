#pragma once
// The one line a failing orvelctl prints for a library status.
#include <string>

namespace orvelctl {

std::string statusMessage(int status);

} // namespace orvelctl
