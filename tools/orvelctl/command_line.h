#pragma once
// What orvelctl was asked to do, parsed and checked before the library is
// touched, so that a bad command line never opens the device.
#include "orvel.h"
#include "schedule_syntax.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvelctl {

enum class Action {
    Help,
    Version,
    Features,
    ClockGet,
    ClockSet,
    PowerResumeGet,
    PowerResumeSet,
    ScheduleGet,
    ScheduleSet,
    ScheduleNext,
    MiscGet,
    MiscSet,
    Tick,
    SmbusRead,
    SmbusWrite,
};

// A friendly schedule change: fields not given keep the controller's values.
struct ScheduleChange : halden::ScheduleEdit {
    std::optional<ScheduleRecord> raw;  // --raw: all six bytes as given
};

struct Request {
    Action action = Action::Help;
    bool json = false;
    bool debug = false;         // let the library's diagnostic lines through
    int schedule = 0;           // 1-4
    ScheduleChange change;
    RtcRecord clock{};
    int32_t enabled = 0;
    uint8_t address = 0, reg = 0, value = 0;
};

// False with a one-line reason on a bad command line.
bool parseCommandLine(int argc, char **argv, Request &request, std::string &error);

const char *usageText();

} // namespace orvelctl
