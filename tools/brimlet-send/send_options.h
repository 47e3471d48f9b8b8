#pragma once
// brimlet-send's command line, parsed and checked before anything is read,
// asked or sent.
#include "schedule_syntax.h"

#include <optional>
#include <string>
#include <vector>

namespace brimletsend {

enum class Command { Help, Slot1, Slot2, Edid };
enum class PasswordSource { Terminal, File, Stdin };

struct SendOptions {
    Command command = Command::Help;
    halden::ScheduleEdit edit;          // slot commands only
    std::optional<std::string> config;  // --config; else ./Brimlet.ini when it exists
    std::optional<std::string> host;
    std::optional<int> port;
    std::vector<std::string> topics;    // in order; empty: the settings file's topic
    PasswordSource passwordSource = PasswordSource::Terminal;
    std::string passwordFile;
    std::optional<std::string> mqttUser;
    std::optional<std::string> mqttPasswordFile;
    std::optional<std::string> mqttCaFile;
    bool dryRun = false;
    bool showDigest = false;            // --dry-run prints the digest as it is
    int timeoutSeconds = 5;
};

// False with a one-line reason.
bool parseSendOptions(const std::vector<std::string> &args, SendOptions &options, std::string &error);

const char *usageText();

} // namespace brimletsend
