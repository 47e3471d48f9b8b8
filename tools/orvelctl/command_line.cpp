#include "command_line.h"

#include "clock_text.h"
#include "number_syntax.h"
#include "printable_text.h"
#include "schedule_text.h"

#include <ctime>
#include <vector>

namespace orvelctl {

using halden::parseNumber;

namespace {

using Args = std::vector<std::string>;

bool byteArg(const std::string &text, const char *what, uint8_t &out, std::string &error)
{
    unsigned long v = 0;
    if (!parseNumber(text, 0xFF, v)) {
        error = std::string("bad ") + what + " '" + text + "' (0-255 or 0x00-0xFF)";
        return false;
    }
    out = static_cast<uint8_t>(v);
    return true;
}

bool countIs(const Args &args, size_t n, const std::string &command, std::string &error)
{
    if (args.size() == n)
        return true;
    error = args.size() < n ? "missing argument to '" + command + "'" : "too many arguments to '" + command + "'";
    return false;
}

bool onOff(const std::string &text, bool &value)
{
    if (text == "on" || text == "1" || text == "yes") {
        value = true;
        return true;
    }
    if (text == "off" || text == "0" || text == "no") {
        value = false;
        return true;
    }
    return false;
}

bool parseScheduleSet(const Args &args, Request &r, std::string &error)
{
    if (args.empty()) {
        error = "missing schedule number to 'schedule set'";
        return false;
    }
    unsigned long n = 0;
    if (!parseNumber(args[0], 4, n) || n < 3) {
        error = "schedule '" + args[0] + "' cannot be set (only 3 and 4)";
        return false;
    }
    r.schedule = static_cast<int>(n);
    ScheduleChange &c = r.change;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &opt = args[i];
        if (opt == "--raw") {
            if (args.size() != 8 || i != 1) {
                error = "--raw takes exactly six bytes and no other option: ON_HOUR ON_MINUTE OFF_HOUR "
                        "OFF_MINUTE ENABLE_FLAGS ACTIVE_DAYS";
                return false;
            }
            ScheduleRecord rec{};
            uint8_t *fields[6] = {&rec.onHour, &rec.onMinute, &rec.offHour, &rec.offMinute, &rec.enableFlags,
                                  &rec.activeDays};
            static const char *names[6] = {"ON_HOUR", "ON_MINUTE", "OFF_HOUR", "OFF_MINUTE", "ENABLE_FLAGS",
                                           "ACTIVE_DAYS"};
            for (int k = 0; k < 6; ++k)
                if (!byteArg(args[2 + k], names[k], *fields[k], error))
                    return false;
            c.raw = rec;
            return true;
        }
        if (!halden::isScheduleOption(opt)) {
            error = "unknown option '" + opt + "' to 'schedule set'";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = "option " + opt + " needs a value";
            return false;
        }
        if (!halden::applyScheduleOption(opt, args[i + 1], c, error))
            return false;
        ++i;
    }
    if (c.empty()) {
        error = "nothing to set: give --days, --on, --off or --raw";
        return false;
    }
    return true;
}

// --- one parser per command; each gets the words after its command (and
// subcommand) and the action is already set ---

bool noArguments(const Args &rest, Request &, std::string &error, const std::string &name)
{
    return countIs(rest, 0, name, error);
}

bool clockSet(const Args &rest, Request &r, std::string &error, const std::string &)
{
    if (rest.size() == 7 && rest[0] == "--raw") {
        for (int k = 0; k < 6; ++k)
            if (!byteArg(rest[1 + k], "clock byte", r.clock.bytes[k], error))
                return false;
        return true;
    }
    if (rest.size() == 1 && rest[0] == "now") {
        r.clock = clockFromTime(std::time(nullptr));
        return true;
    }
    std::string text;
    for (const auto &a : rest)
        text += (text.empty() ? "" : " ") + a;
    if (!parseClock(text, r.clock)) {
        error = "bad clock '" + text + "' (now, YYYY-MM-DD HH:MM:SS, or --raw with six bytes)";
        return false;
    }
    return true;
}

bool powerResumeSet(const Args &rest, Request &r, std::string &error, const std::string &name)
{
    if (!countIs(rest, 1, name, error))
        return false;
    bool on = false;
    if (!onOff(rest[0], on)) {
        error = "bad value '" + rest[0] + "' for power-resume (on or off)";
        return false;
    }
    r.enabled = on ? 1 : 0;
    return true;
}

bool scheduleGet(const Args &rest, Request &r, std::string &error, const std::string &name)
{
    if (!countIs(rest, 1, name, error))
        return false;
    unsigned long n = 0;
    if (!parseNumber(rest[0], 4, n) || n < 1) {
        error = "no schedule '" + rest[0] + "' (1 to 4)";
        return false;
    }
    r.schedule = static_cast<int>(n);
    return true;
}

bool scheduleSet(const Args &rest, Request &r, std::string &error, const std::string &)
{
    return parseScheduleSet(rest, r, error);
}

bool oneValue(const Args &rest, Request &r, std::string &error, const std::string &name)
{
    return countIs(rest, 1, name, error) && byteArg(rest[0], "value", r.value, error);
}

bool smbusRead(const Args &rest, Request &r, std::string &error, const std::string &name)
{
    return countIs(rest, 2, name, error) && byteArg(rest[0], "address", r.address, error)
           && byteArg(rest[1], "register", r.reg, error);
}

bool smbusWrite(const Args &rest, Request &r, std::string &error, const std::string &name)
{
    return countIs(rest, 3, name, error) && byteArg(rest[0], "address", r.address, error)
           && byteArg(rest[1], "register", r.reg, error) && byteArg(rest[2], "value", r.value, error);
}

struct CommandEntry {
    const char *command;
    const char *sub;  // null: the command takes no subcommand
    Action action;
    bool (*parse)(const Args &rest, Request &r, std::string &error, const std::string &name);
};

const CommandEntry kCommands[] = {
    {"version", nullptr, Action::Version, noArguments},
    {"features", nullptr, Action::Features, noArguments},
    {"clock", "get", Action::ClockGet, noArguments},
    {"clock", "set", Action::ClockSet, clockSet},
    {"power-resume", "get", Action::PowerResumeGet, noArguments},
    {"power-resume", "set", Action::PowerResumeSet, powerResumeSet},
    {"schedule", "get", Action::ScheduleGet, scheduleGet},
    {"schedule", "set", Action::ScheduleSet, scheduleSet},
    {"schedule", "next", Action::ScheduleNext, noArguments},
    {"misc", "get", Action::MiscGet, noArguments},
    {"misc", "set", Action::MiscSet, oneValue},
    {"tick", nullptr, Action::Tick, oneValue},
    {"smbus", "read", Action::SmbusRead, smbusRead},
    {"smbus", "write", Action::SmbusWrite, smbusWrite},
};

bool parseCommand(const Args &args, Request &r, std::string &error)
{
    if (args.empty()) {
        error = "no command given";
        return false;
    }
    const std::string &cmd = args[0];
    std::string subs;  // the subcommands this command knows, for the error
    for (const CommandEntry &e : kCommands) {
        if (cmd != e.command)
            continue;
        if (!e.sub) {
            r.action = e.action;
            return e.parse(Args(args.begin() + 1, args.end()), r, error, cmd);
        }
        if (args.size() > 1 && args[1] == e.sub) {
            r.action = e.action;
            return e.parse(Args(args.begin() + 2, args.end()), r, error, cmd + " " + e.sub);
        }
        subs += subs.empty() ? e.sub : std::string(" or ") + e.sub;
    }
    error = subs.empty() ? "unknown command '" + cmd + "'" : "'" + cmd + "' needs " + subs;
    return false;
}

// Reasons quote what was typed; a control character there (a newline in an
// argument) must not break the one-line message.
bool parseWords(int argc, char **argv, Request &request, std::string &error);

} // namespace

bool parseCommandLine(int argc, char **argv, Request &request, std::string &error)
{
    if (parseWords(argc, argv, request, error))
        return true;
    error = halden::printableText(error);
    return false;
}

namespace {

bool parseWords(int argc, char **argv, Request &request, std::string &error)
{
    Args args;
    bool commandStarted = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            request.action = Action::Help;
            return true;
        }
        if (a == "--json") {
            request.json = true;
            continue;
        }
        if (a == "--debug") {
            request.debug = true;
            continue;
        }
        if (!commandStarted && a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        }
        commandStarted = true;
        args.push_back(a);
    }
    return parseCommand(args, request, error);
}

} // namespace

const char *usageText()
{
    return "Usage: orvelctl [--json] [--debug] COMMAND [ARGUMENTS]\n"
           "Reads and sets the Orvel power-management controller through the orvel library.\n"
           "\n"
           "Commands:\n"
           "  version                     controller version text\n"
           "  features                    feature bitmap\n"
           "  clock get                   controller clock (UTC)\n"
           "  clock set now               set the clock from this machine's clock\n"
           "  clock set YYYY-MM-DD HH:MM:SS\n"
           "  clock set --raw B0 B1 B2 B3 B4 B5\n"
           "                              clock bytes as given: second, minute, hour, day,\n"
           "                              month, year - 2000\n"
           "  power-resume get            power resume bit (on/off)\n"
           "  power-resume set on|off\n"
           "  schedule get N              schedule block N, 1 to 4\n"
           "  schedule set N [--days DAYS] [--on HH:MM|on|off] [--off HH:MM|on|off]\n"
           "                              change schedule 3 or 4; what is not given stays.\n"
           "                              DAYS: mon-fri, sat,sun, mon,wed-fri, weekdays,\n"
           "                              weekend, all, none, or a mask (0x3E); a time also\n"
           "                              turns that switch on, off turns it off\n"
           "  schedule set N --raw ON_HOUR ON_MINUTE OFF_HOUR OFF_MINUTE ENABLE_FLAGS ACTIVE_DAYS\n"
           "                              the six bytes as given (ENABLE_FLAGS bit 0 power-on,\n"
           "                              bit 1 power-off; ACTIVE_DAYS bit 0 Sunday .. bit 6 Saturday)\n"
           "  schedule next               when each schedule fires next on the board's clock\n"
           "                              (UTC, as clock get reads it), then the earliest\n"
           "  misc get                    miscellaneous control byte\n"
           "  misc set VALUE\n"
           "  tick VALUE                  write the power-on-after-shutdown tick\n"
           "  smbus read ADDRESS REGISTER one byte from any SMBus device\n"
           "  smbus write ADDRESS REGISTER VALUE\n"
           "                              one byte to an SMBus device (0xA0-0xA7 and 0xAE\n"
           "                              are protected)\n"
           "\n"
           "Numbers are decimal or 0x-prefixed hexadecimal.\n"
           "\n"
           "Options:\n"
           "  --json      one JSON line instead of text, e.g.\n"
           "              schedule get: {\"onHour\":8,\"onMinute\":30,\"offHour\":18,\"offMinute\":0,"
           "\"enableFlags\":3,\"activeDays\":62}\n"
           "              version: {\"version\":\"...\"}\n"
           "  --debug     show the library's diagnostic lines on standard error\n"
           "  --help      this text\n"
           "\n"
           "The board is reached like any caller of the library reaches it (KMUI_RUNTIME_DIR).\n"
           "Exit status: 0 success, 1 no session (the KMUI device could not be opened),\n"
           "2 firmware service check failed, 5 controller did not answer (timeout),\n"
           "6 address is protected, 64 bad command line.\n";
}

} // namespace orvelctl
