#pragma once
// The library's process-wide state. One copy per process, shared by every
// export; nothing here is locked, callers use the library from one thread.
#include <cstdint>

namespace orvel {

class DriverSession;

struct LibraryState {
    DriverSession *session = nullptr;  // current session, null when none
    uint8_t callPort = 0xB2;           // firmware call port, until the scan finds the table
    uint8_t callCode = 0xED;           // firmware call code, until the scan finds the table
    bool firmwareVerified = false;     // set by the first passing service check, never cleared
    uint8_t versionBuffer[16] = {};    // text of the last version read
};

LibraryState &state();

// Back to the state at load, for unit tests that run several cases in one
// process. Frees a current session without running its close step.
void resetStateForTests();

} // namespace orvel
