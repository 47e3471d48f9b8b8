#pragma once
// Numbered slots that live runs of a program hold, so that two runs alive at
// once can tell themselves apart and a later run takes the number an ended
// one held. A slot is let go when the process ends, however it ends.
#include <string>

// The lowest slot of `key` (letters, digits, '-') that no live process holds,
// held by this one from now until it ends; -1 when none can be held.
int takeInstanceSlot(const std::string &key);
