#pragma once
// The board's register state on disk: a first line naming the format, then
// one "key value" line per item. Written to a temporary file and renamed into
// place, so a crash mid-write leaves the previous state intact.
#include "smbus_device.h"

#include <string>

namespace kmui {

// Missing file, foreign first line: empty map. Malformed lines are skipped.
StateMap loadStateFile(const std::string &path);
bool saveStateFile(const std::string &path, const StateMap &state);

} // namespace kmui
