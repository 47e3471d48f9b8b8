#pragma once
// Command line of kmui-sim: where to serve and which faults to inject.
#include "kmui_board.h"

#include <string>

namespace kmui {

struct SimOptions {
    std::string runtimeDir;   // empty: the default folder
    bool useStateFile = true;
    bool help = false;
    BoardConfig board;
};

// Fills options from argv; on a bad command line returns false with a
// one-line message in error.
bool parseSimOptions(int argc, char **argv, SimOptions &options, std::string &error);

const char *simUsage();

} // namespace kmui
