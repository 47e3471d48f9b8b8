#include "send_options.h"

#include "number_syntax.h"

namespace brimletsend {

namespace {

bool needsValue(const std::string &option)
{
    return option == "--config" || option == "--host" || option == "--port" || option == "--topic"
        || option == "--password-file" || option == "--timeout" || option == "--mqtt-user"
        || option == "--mqtt-password-file" || option == "--mqtt-ca-file" || halden::isScheduleOption(option);
}

bool numberIn(const std::string &text, unsigned long low, unsigned long high, int &out)
{
    unsigned long v = 0;
    if (!halden::parseNumber(text, high, v) || v < low)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

bool parseSendOptions(const std::vector<std::string> &args, SendOptions &o, std::string &error)
{
    if (args.empty()) {
        error = "missing command: slot1, slot2 or edid (see --help)";
        return false;
    }
    bool passwordChosen = false;
    const std::string &command = args[0];
    if (command == "--help" || command == "-h") {
        o.command = Command::Help;
        return true;
    }
    if (command == "slot1")
        o.command = Command::Slot1;
    else if (command == "slot2")
        o.command = Command::Slot2;
    else if (command == "edid")
        o.command = Command::Edid;
    else {
        error = "unknown command '" + command + "' (slot1, slot2 or edid)";
        return false;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &opt = args[i];
        if (opt == "--help" || opt == "-h") {
            o.command = Command::Help;
            return true;
        }
        if (opt == "--dry-run") {
            o.dryRun = true;
            continue;
        }
        if (opt == "--show-digest") {
            o.showDigest = true;
            continue;
        }
        if (opt == "--password-stdin") {
            if (passwordChosen) {
                error = "give only one of --password-file and --password-stdin";
                return false;
            }
            passwordChosen = true;
            o.passwordSource = PasswordSource::Stdin;
            continue;
        }
        if (opt == "--password") {
            error = "a password is never taken from the command line: use --password-file, --password-stdin or the prompt";
            return false;
        }
        if (!needsValue(opt)) {
            error = "unknown option '" + opt + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = "option " + opt + " needs a value";
            return false;
        }
        const std::string &value = args[++i];
        if (halden::isScheduleOption(opt)) {
            if (o.command == Command::Edid) {
                error = "option " + opt + " belongs to slot1 and slot2, not edid";
                return false;
            }
            if (!halden::applyScheduleOption(opt, value, o.edit, error))
                return false;
        } else if (opt == "--config") {
            o.config = value;
        } else if (opt == "--host") {
            o.host = value;
        } else if (opt == "--port") {
            int port = 0;
            if (!numberIn(value, 1, 65535, port)) {
                error = "bad port '" + value + "' (1-65535)";
                return false;
            }
            o.port = port;
        } else if (opt == "--topic") {
            if (value.empty()) {
                error = "an empty --topic names no board";
                return false;
            }
            o.topics.push_back(value);
        } else if (opt == "--password-file") {
            if (passwordChosen) {
                error = "give only one of --password-file and --password-stdin";
                return false;
            }
            passwordChosen = true;
            o.passwordSource = PasswordSource::File;
            o.passwordFile = value;
        } else if (opt == "--timeout") {
            if (!numberIn(value, 1, 3600, o.timeoutSeconds)) {
                error = "bad timeout '" + value + "' (1-3600 seconds)";
                return false;
            }
        } else if (opt == "--mqtt-user") {
            o.mqttUser = value;
        } else if (opt == "--mqtt-password-file") {
            o.mqttPasswordFile = value;
        } else {
            // An unset shell variable would otherwise mean plain TCP, silently.
            if (value.empty()) {
                error = "an empty --mqtt-ca-file names no CA file (leave the option out for plain TCP)";
                return false;
            }
            o.mqttCaFile = value;
        }
    }
    if (o.showDigest && !o.dryRun) {
        error = "--show-digest belongs to --dry-run";
        return false;
    }
    return true;
}

const char *usageText()
{
    return "Usage: brimlet-send slot1|slot2 [--days DAYS] [--on HH:MM|on|off] [--off HH:MM|on|off] [OPTIONS]\n"
           "       brimlet-send edid [OPTIONS]\n"
           "\n"
           "Publishes the command Brimlet's buttons publish: a schedule for remote time slot 1\n"
           "(the board's schedule 3) or slot 2 (schedule 4), or an EDID re-enumeration. The text\n"
           "is byte for byte what Brimlet sends for the same values and password.\n"
           "\n"
           "Slot values not given come from section [Slot1] or [Slot2] of the settings file.\n"
           "  --days DAYS         mon-fri, sat,sun, mon,wed-fri, weekdays, weekend, all, none,\n"
           "                      or a mask (bit 0 Sunday .. bit 6 Saturday: 62 = mon-fri)\n"
           "  --on HH:MM|on|off   power-on time (enables it), or only enable/disable it\n"
           "  --off HH:MM|on|off  power-off time; in force only together with a power-on time\n"
           "\n"
           "Options:\n"
           "  --config FILE       a Brimlet.ini (default: ./Brimlet.ini when it exists)\n"
           "  --host ADDRESS      broker address, numeric (default: the settings file's Host)\n"
           "  --port PORT         broker port (default: the settings file's Port)\n"
           "  --topic TOPIC       a board's topic; give it several times for a fleet: one\n"
           "                      publish per topic, in order, on one connection\n"
           "                      (default: the settings file's TopicToken)\n"
           "  --password-file F   the command password is the first line of F\n"
           "  --password-stdin    the command password is the first line of standard input\n"
           "                      (without either, it is asked twice on the terminal, unechoed)\n"
           "  --mqtt-user USER    broker log-in (default: MqttUser of the settings file)\n"
           "  --mqtt-password-file F  broker password from the first line of F (default: MqttPassword)\n"
           "  --mqtt-ca-file F    use TLS and trust the broker's certificate if F signed it\n"
           "                      (default: MqttCaFile)\n"
           "  --timeout SECONDS   how long to try to reach the broker (default 5)\n"
           "  --dry-run           print each topic and the command text, publish nothing; the\n"
           "                      password digest in it is masked\n"
           "  --show-digest       with --dry-run: print the digest as it is sent (it opens the\n"
           "                      boards as well as the password does)\n"
           "  --help              this text\n"
           "\n"
           "Passwords are never taken from the command line or the environment, and never printed;\n"
           "an empty password is refused (exit 66), as every board refuses commands without one.\n"
           "\n"
           "Exit status: 0 sent (or printed), 1 the two typed passwords differ, 2 the broker\n"
           "was not reached or refused the connection, 64 bad arguments, 66 a file cannot be read\n"
           "or holds no password.\n";
}

} // namespace brimletsend
