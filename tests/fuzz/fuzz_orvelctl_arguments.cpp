// orvelctl's command-line parsing on argument vectors cut from the input at
// NUL bytes: a command line is either taken, with values in their ranges, or
// refused with one line saying why. A schedule change is checked against a
// reference written here from the syntax orvelctl --help gives: times
// H:MM or HH:MM with hours 0-23 and minutes 0-59 (24:00 refused), on/yes and
// off/no, days as a mask up to 0x7F or as day names, ranges (wrapping),
// "weekdays", "weekend", "all" and "none". What the reference takes must be
// taken with the same values, and what it refuses must be refused.
#include "command_line.h"
#include "reference_schedule.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

[[noreturn]] void differs(const char *what)
{
    std::fprintf(stderr, "orvelctl's schedule change differs from the reference: %s\n", what);
    std::abort();
}

// The friendly "schedule set 3|4 --days .. --on .. --off .." against the
// reference: the same accept/refuse, the same values (the last of each option).
void checkScheduleChange(const std::vector<std::string> &words, bool taken, const orvelctl::Request &request)
{
    std::vector<std::string> args;
    for (size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "--help" || words[i] == "-h")
            return;
        if (words[i] != "--json" && words[i] != "--debug")
            args.push_back(words[i]);
    }
    if (args.size() < 5 || args[0] != "schedule" || args[1] != "set" || (args[2] != "3" && args[2] != "4")
        || (args.size() - 3) % 2 != 0)
        return;
    orvelctl::ScheduleChange ref;
    for (size_t i = 3; i < args.size(); i += 2) {
        const halden::fuzz::RefOption r = halden::fuzz::refApply(args[i], args[i + 1], ref);
        if (r == halden::fuzz::RefOption::NotASchedule)
            return; // refused by both, said elsewhere
        if (r == halden::fuzz::RefOption::Refused) {
            if (taken)
                differs("a day or time the reference refuses was taken");
            return;
        }
    }
    if (!taken)
        differs("a change the reference takes was refused");
    if (request.change.raw || !halden::fuzz::sameEdit(request.change, ref))
        differs("the values taken are not the reference's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words{"orvelctl"};
    std::string word;
    for (size_t i = 0; i < size && words.size() < 24; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += char(data[i]);
        }
    }
    if (!word.empty() || size == 0)
        words.push_back(word);
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    orvelctl::Request request;
    std::string error;
    const bool taken = orvelctl::parseCommandLine(int(words.size()), argv.data(), request, error);
    checkScheduleChange(words, taken, request);
    if (!taken) {
        if (error.empty() || error.find('\n') != std::string::npos)
            std::abort();
        return 0;
    }
    const bool bySlot = request.action == orvelctl::Action::ScheduleGet || request.action == orvelctl::Action::ScheduleSet;
    if (bySlot && (request.schedule < 1 || request.schedule > 4))
        std::abort();
    if (request.action == orvelctl::Action::ScheduleSet && request.schedule < 3)
        std::abort();  // only slots 3 and 4 can be written
    const bool raw = std::find(words.begin(), words.end(), "--raw") != words.end();
    if (request.action == orvelctl::Action::ClockSet && !raw) {
        // A date the calendar has (--raw bytes go to the clock as given).
        const RtcRecord &c = request.clock;
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const int year = 2000 + c.bytes[5];
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (c.bytes[4] < 1 || c.bytes[4] > 12 || c.bytes[3] < 1
            || c.bytes[3] > kDays[c.bytes[4] - 1] + (c.bytes[4] == 2 && leap ? 1 : 0) || c.bytes[2] > 23
            || c.bytes[1] > 59 || c.bytes[0] > 59)
            std::abort();
    }
    return 0;
}
