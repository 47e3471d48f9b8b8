// POSIX: a slot is a lock file held with flock() in the user's own runtime
// folder (checked: private_folder.h); the kernel lets go of it when the
// process dies.
#include "instance_slot.h"

extern "C" {
#include "private_folder.h"
}

#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
const int kMaxSlots = 64;
}

int takeInstanceSlot(const std::string &key)
{
    char path[PATH_MAX];
    const int folder = privateFolderOpenUserRuntime(path, sizeof path, nullptr, 0);
    if (folder < 0)
        return -1;
    int taken = -1;
    for (int slot = 0; slot < kMaxSlots && taken < 0; ++slot) {
        const std::string name = "halden-" + key + "-" + std::to_string(slot) + ".lock";
        const int fd = privateFolderOpenFile(folder, name.c_str(), O_RDWR | O_CREAT, 0600);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            taken = slot; // the descriptor stays open, and the slot held, until the process ends
        else
            close(fd);
    }
    close(folder);
    return taken;
}
