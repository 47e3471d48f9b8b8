// Windows: a slot is a named mutex in the session's namespace; the system
// closes it when the process ends.
#include "instance_slot.h"

#include <windows.h>

namespace {
const int kMaxSlots = 64;
}

int takeInstanceSlot(const std::string &key)
{
    for (int slot = 0; slot < kMaxSlots; ++slot) {
        const std::string name = "Local\\halden-" + key + "-" + std::to_string(slot);
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
        if (!mutex)
            continue;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return slot; // the handle stays open, and the slot held, until the process ends
        CloseHandle(mutex);
    }
    return -1;
}
