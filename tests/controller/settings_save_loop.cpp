// Test helper: saves a settings file over and over until it is killed, the
// way Brimlet saves its slots (brimlet) or as a bare INI store user (ini).
// Each save flips between two versions of the file, so a reader knows every
// content the file may rightly have. Prints "saving" once the loop runs.
//   settings_save_loop brimlet|ini PATH [FILE_SIZE_LIMIT] [ONCE_VERSION]
// With a limit the writes fail past that many bytes, as on a full disk; with
// ONCE_VERSION (0 or 1) it saves that version once and exits.
#include "controller_settings.h"
#include "ini_store.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

bool saveVersion(bool brimlet, const char *path, int version)
{
    if (brimlet) {
        ControllerSettings settings = loadSettings(path);
        settings.timeSlot1.pwrOnHour = version ? 7 : 8;
        settings.timeSlot1.activeDay = version ? 62 : 65;
        settings.timeSlot2.pwrOffMinute = version ? 45 : 15;
        return saveSettings(settings, path);
    }
    if (!IniLoad(path))
        return false;
    IniSetString("Slot1", "Payload", std::string(version ? 100 : 120, version ? 'A' : 'B').c_str());
    const bool ok = IniSave(path);
    IniClose();
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const bool brimlet = std::strcmp(argv[1], "brimlet") == 0;
    const char *path = argv[2];
    if (argc > 3 && std::atol(argv[3]) > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = rlim_t(std::atol(argv[3]));
        struct rlimit r = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &r);
    }
    if (argc > 4)
        return saveVersion(brimlet, path, std::atoi(argv[4])) ? 0 : 1;
    std::puts("saving");
    std::fflush(stdout);
    for (int version = 1;; version ^= 1)
        saveVersion(brimlet, path, version);
}
