// B1: one schedule write through the library, in-process and as a whole
// orvelctl run, against the floor the firmware protocol sets: every SMBus
// byte pauses three times (after the ready query, after the start, after the
// done query, on a board that answers each wait at once), and a schedule is
// six bytes.
#include "benchmarks.h"

#include "bench_support.h"
#include "core/smbus.h"
#include "orvel.h"
#include "run_program.h"

#include <cstdlib>
#include <sys/stat.h>

namespace halden::bench {

namespace {

std::vector<std::string> rawSchedule(int i)
{
    return {std::to_string(6 + i % 3), std::to_string(i % 60), "22", "10", "3", "0x3E"};
}

} // namespace

void libraryWrite(const Counts &counts, Report &report)
{
    Figure &open = report.declare("B1.open", "ORVL_OpenInterface (scan + service check)", "ms");
    Figure &write = report.declare("B1.write", "ORVL_SetSchedule3 in-process", "ms");
    Figure &toLast = report.declare("B1.lastwrite", "  call -> its 6th register written", "ms");
    Figure &tool = report.declare("B1.orvelctl", "orvelctl schedule set (open/scan/close)", "ms");
    Figure &noBoard = report.declare("B1.noboard", "orvelctl, kmui-sim exits at once", "ms");

    halden::test::TempDir dir("bench-b1");
    halden::test::KmuiSimProcess sim({"--no-state", "--trace", dir.file("trace")});
    if (!sim.start()) {
        write.note = "kmui-sim did not start: " + sim.error();
        return;
    }
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);

    Samples opens;
    for (int i = 0; i < counts.repeats; ++i) {
        const double begin = nowMs();
        const int32_t status = ORVL_OpenInterface();
        opens.add(nowMs() - begin);
        ORVL_CloseInterface();
        if (status != ORVL_OK) {
            open.note = "ORVL_OpenInterface returned " + std::to_string(status);
            ::unsetenv("KMUI_RUNTIME_DIR");
            return;
        }
    }
    open.median = opens.median();
    open.p95 = opens.percentile(0.95);

    // The board writes a register when the transaction starts; the library
    // still pauses twice after that (after the start, after the done query).
    // B2 sees only the register writes, so it compares with the second figure.
    Samples writes, lastWrites;
    ORVL_OpenInterface();
    for (int i = 0; i < counts.repeats; ++i) {
        const ScheduleRecord record{uint8_t(6 + i % 3), uint8_t(i % 60), 22, 10, 3, 0x3E};
        const size_t before = readTrace(dir.file("trace")).size();
        const double begin = nowMs();
        const int32_t status = ORVL_SetSchedule3(&record);
        writes.add(nowMs() - begin);
        if (status != ORVL_OK)
            write.note = "ORVL_SetSchedule3 returned " + std::to_string(status);
        const std::vector<TraceWrite> trace = readTrace(dir.file("trace"));
        if (trace.size() >= before + 6)
            lastWrites.add(trace[before + 5].ms - begin);
    }
    ORVL_CloseInterface();
    ::unsetenv("KMUI_RUNTIME_DIR");

    // The floor, from what the board saw and the library's own pause.
    const size_t registerWrites = readTrace(dir.file("trace")).size();
    const double bytesPerSchedule = double(registerWrites) / counts.repeats;
    const double floor = smbusFloorMs(bytesPerSchedule);
    const std::string floorName = std::to_string(int(bytesPerSchedule)) + " bytes x " +
                                  std::to_string(kPausesPerTransaction) + " x " + std::to_string(orvel::kPauseMs) +
                                  " ms pauses";
    write.median = writes.median();
    write.p95 = writes.percentile(0.95);
    write.peerName = floorName;
    write.peer = floor;
    write.maxRatio = 1.05;
    write.hardwareFloor = true;
    if (!lastWrites.empty()) {
        toLast.median = lastWrites.median();
        toLast.p95 = lastWrites.percentile(0.95);
    }

    Samples runs;
    for (int i = 0; i < counts.repeats; ++i) {
        std::vector<std::string> args{HALDEN_BIN_DIR "/orvelctl", "schedule", "set", "3", "--raw"};
        for (const std::string &b : rawSchedule(i))
            args.push_back(b);
        const double begin = nowMs();
        const halden::test::ProgramResult r = halden::test::runProgram(args, {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()});
        runs.add(nowMs() - begin);
        if (r.exitCode != 0)
            tool.note = "orvelctl failed: " + r.err;
    }
    tool.median = runs.median();
    tool.p95 = runs.percentile(0.95);
    tool.peerName = floorName;
    tool.peer = floor;
    tool.maxRatio = 1.3;
    tool.hardwareFloor = true;

    // The library and orvelctl on their own, beside a kmui-sim that ends at
    // once: "no session" must not wait out the start-up bound.
    halden::test::TempDir alone("bench-b1-noboard");
    for (const char *file : {"orvelctl", "libORVEL.so.1"}) {
        halden::test::writeFile(alone.file(file), halden::test::readFile(std::string(HALDEN_BIN_DIR) + "/" + file));
        ::chmod(alone.file(file).c_str(), 0755);
    }
    halden::test::writeFile(alone.file("kmui-sim"), "#!/bin/sh\nexit 3\n");
    ::chmod(alone.file("kmui-sim").c_str(), 0755);
    Samples failures;
    for (int i = 0; i < std::max(1, counts.repeats / 4); ++i) {
        const double begin = nowMs();
        const halden::test::ProgramResult r =
            halden::test::runProgram({alone.file("orvelctl"), "version"},
                                     {"KMUI_RUNTIME_DIR=" + alone.file("run"), "LD_LIBRARY_PATH=" + alone.path()});
        failures.add(nowMs() - begin);
        if (r.exitCode != 1)
            noBoard.note = "expected 'no session', got exit " + std::to_string(r.exitCode) + ": " + r.err;
    }
    noBoard.median = failures.median();
    noBoard.p95 = failures.percentile(0.95);
    noBoard.peerName = "bound for a board that cannot start";
    noBoard.peer = 500;
    noBoard.maxRatio = 1.0;
}

} // namespace halden::bench
