// brimlet-send's command-line parsing on argument vectors cut from the input
// at NUL bytes. Taken or refused with one line; what is taken is in range
// (port 1-65535, timeout 1-3600 s, no empty topic, no empty CA file,
// --show-digest only with --dry-run, no schedule option on edid); a password
// is never taken from the command line; and a slot command made only of
// --days, --on and --off is checked against the day and time syntax's
// reference (reference_schedule.h): the same accept/refuse, the same values.
#include "printable_text.h"
#include "reference_schedule.h"
#include "send_options.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using brimletsend::Command;

[[noreturn]] void wrong(const char *what)
{
    std::fprintf(stderr, "brimlet-send's command line: %s\n", what);
    std::abort();
}

void checkAgainstReference(const std::vector<std::string> &args, bool taken, const brimletsend::SendOptions &o)
{
    if (args.empty() || (args[0] != "slot1" && args[0] != "slot2") || (args.size() - 1) % 2 != 0
        || args.size() < 3)
        return;
    halden::ScheduleEdit ref;
    for (size_t i = 1; i < args.size(); i += 2) {
        const halden::fuzz::RefOption r = halden::fuzz::refApply(args[i], args[i + 1], ref);
        if (r == halden::fuzz::RefOption::NotASchedule)
            return;
        if (r == halden::fuzz::RefOption::Refused) {
            if (taken)
                wrong("a day or time the reference refuses was taken");
            return;
        }
    }
    if (!taken)
        wrong("a slot change the reference takes was refused");
    if (!halden::fuzz::sameEdit(o.edit, ref))
        wrong("the slot values taken are not the reference's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> args;
    std::string word;
    for (size_t i = 0; i < size && args.size() < 24; ++i) {
        if (data[i] == 0) {
            args.push_back(word);
            word.clear();
        } else {
            word += char(data[i]);
        }
    }
    if (!word.empty())
        args.push_back(word);

    brimletsend::SendOptions o;
    std::string error;
    const bool taken = brimletsend::parseSendOptions(args, o, error);
    checkAgainstReference(args, taken, o);
    if (!taken) {
        // As the tool prints it: typed text made printable.
        const std::string shown = halden::printableText(error);
        if (shown.empty() || shown.find_first_of("\n\r") != std::string::npos)
            wrong("a refusal is not one line");
        return 0;
    }
    if (o.command == Command::Help)
        return 0;
    if (o.port && (*o.port < 1 || *o.port > 65535))
        wrong("a port out of range was taken");
    if (o.timeoutSeconds < 1 || o.timeoutSeconds > 3600)
        wrong("a time-out out of range was taken");
    for (const std::string &t : o.topics)
        if (t.empty())
            wrong("an empty topic was taken");
    if (o.mqttCaFile && o.mqttCaFile->empty())
        wrong("an empty CA file was taken");
    if (o.showDigest && !o.dryRun)
        wrong("--show-digest without --dry-run was taken");
    if (o.command == Command::Edid && (o.edit.days || o.edit.onEnabled || o.edit.offEnabled))
        wrong("a schedule option was taken for edid");
    // "--password" where an option stands (not as the value of one, which
    // --help's option list says which are) is never taken.
    static const char *const withValue[] = {"--config", "--host", "--port", "--topic", "--password-file",
                                            "--timeout", "--mqtt-user", "--mqtt-password-file", "--mqtt-ca-file",
                                            "--days", "--on", "--off"};
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--password")
            wrong("a command line with --password as an option was taken");
        if (std::find(std::begin(withValue), std::end(withValue), args[i]) != std::end(withValue))
            ++i;
    }
    return 0;
}
