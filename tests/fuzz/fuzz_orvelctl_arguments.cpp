// orvelctl's command-line parsing on argument vectors cut from the input at
// NUL bytes: a command line is either taken, with values in their ranges, or
// refused with one line saying why.
#include "command_line.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
    if (!orvelctl::parseCommandLine(int(words.size()), argv.data(), request, error)) {
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
