#pragma once
// Runs a program to completion for a test and hands back what it printed.
//
//   auto r = halden::test::runProgram({HALDEN_BIN_DIR "/orvelctl", "version"},
//                                     {"KMUI_RUNTIME_DIR=" + dir});
//   EXPECT_EQ(r.exitCode, 0) << r.err;
//
// env entries ("NAME=value") are added to, or replace in, the test's own
// environment for the child only. A program still running after timeoutMs is
// killed and reported with exitCode -1 and timedOut set.
#include <string>
#include <vector>

namespace halden::test {

struct ProgramResult {
    int exitCode = -1;   // -1: did not start, was killed or died by a signal
    bool timedOut = false;
    std::string out;
    std::string err;
};

ProgramResult runProgram(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                         int timeoutMs = 60000);

} // namespace halden::test
