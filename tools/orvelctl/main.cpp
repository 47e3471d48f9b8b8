// orvelctl: the Orvel controller from the shell.
#include "actions.h"
#include "command_line.h"
#include "orvel_posix.h"
#include "status_text.h"

#include <cstdio>

namespace {
constexpr int kUsageExit = 64;  // EX_USAGE
constexpr int kDataExit = 65;   // EX_DATAERR: the board's answer makes no sense
}

int main(int argc, char **argv)
{
    orvelctl::Request request;
    std::string error;
    if (!orvelctl::parseCommandLine(argc, argv, request, error)) {
        std::fprintf(stderr, "orvelctl: %s (see orvelctl --help)\n", error.c_str());
        return kUsageExit;
    }
    if (request.action == orvelctl::Action::Help) {
        std::fputs(orvelctl::usageText(), stdout);
        return 0;
    }

    int status = ORVL_OK;
    std::string text, problem;
    // The library's diagnostic lines would drown the one line orvelctl says.
    orvlSetDebugOutput(request.debug ? 1 : 0);
    status = ORVL_OpenInterface();
    if (status == ORVL_OK)
        status = orvelctl::runRequest(request, text, problem);
    const bool answered = orvlDriverAnswered() != 0;
    // The open leaves a session behind even when it fails; always close it.
    ORVL_CloseInterface();

    if (status != ORVL_OK) {
        // A board refused for safety says why, not only that none answered.
        const std::string refused = orvlRuntimeProblem();
        const std::string message = !refused.empty() ? refused
                                    : answered       ? orvelctl::statusMessage(status)
                                                     : orvelctl::noAnswerMessage(status);
        std::fprintf(stderr, "orvelctl: %s\n", message.c_str());
        return status;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "orvelctl: %s\n", problem.c_str());
        return kDataExit;
    }
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 74;  // EX_IOERR: the answer got lost
}
