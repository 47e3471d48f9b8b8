// kmui-sim: the simulated board (KMUI driver, firmware and controller)
// served on local sockets for the library's POSIX platform.
#include "kmui_board.h"
#include "sim_options.h"
#include "sim_server.h"

extern "C" {
#include "kmui_endpoint.h"
}

#include <climits>
#include <cstdio>

int main(int argc, char **argv)
{
    kmui::SimOptions options;
    std::string error;
    if (!kmui::parseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "kmui-sim: %s (see kmui-sim --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kmui::simUsage(), stdout);
        return 0;
    }
    if (options.runtimeDir.empty()) {
        char dir[PATH_MAX];
        if (!kmuiRuntimeDir(dir, sizeof dir)) {
            std::fprintf(stderr, "kmui-sim: the runtime folder path is too long\n");
            return 1;
        }
        options.runtimeDir = dir;
    }
    // Checked before anything is read from it or served in it: under a name
    // such as /tmp/kmui-<uid> the folder may be someone else's.
    char why[512];
    const int folder = kmuiOpenRuntimeDir(options.runtimeDir.c_str(), why, sizeof why);
    if (folder < 0) {
        std::fprintf(stderr, "kmui-sim: the runtime folder is refused: %s\n", why);
        return 1;
    }
    if (options.useStateFile) {
        char state[PATH_MAX];
        if (!kmuiStateFilePath(options.runtimeDir.c_str(), state, sizeof state)) {
            std::fprintf(stderr, "kmui-sim: the runtime folder path is too long\n");
            return 1;
        }
        options.board.stateFile = state;
    }

    kmui::Board board(options.board);
    if (!options.board.traceFile.empty() && !board.tracing()) {
        std::fprintf(stderr, "kmui-sim: cannot write the trace file %s\n", options.board.traceFile.c_str());
        return 1;
    }
    kmui::SimServer server(board, options.runtimeDir, folder);
    if (!server.start(error)) {
        std::fprintf(stderr, "kmui-sim: %s\n", error.c_str());
        return 1;
    }
    return server.run();
}
