#pragma once
// The library's platform table for fuzzing: an in-process simulated board
// answers, and the fuzz input decides, request by request, whether the answer
// reaches the library as the board gave it, with bytes changed, replaced by
// input bytes, or not at all. Opens, installs, WOW64 and stops take their
// outcome from the input too. Once the input is used up the board answers.
#include <cstddef>
#include <cstdint>

namespace fuzz {

void startRun(const uint8_t *data, size_t size);
// Takes the next input byte (0 once the input is used up).
uint8_t nextByte();

// Pauses and requests since startRun; the run aborts when a pause budget is
// exceeded, so a loop that does not end shows as a crash.
size_t pauses();
size_t requests();

} // namespace fuzz
