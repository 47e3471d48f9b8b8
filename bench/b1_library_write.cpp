// B1: one schedule write through the library, in-process and as a whole
// orvelctl run, against the floor the firmware protocol sets: a schedule is
// six record bytes, and every SMBus byte pauses three times (after the ready
// query, after the start, after the done query, on a board that answers each
// wait at once). The board's trace is the check beside it: each call writes
// exactly the six registers of schedule 3, in order, with the record's
// values; a call that writes anything else, or fails, fails the row.
#include "benchmarks.h"

#include "bench_support.h"
#include "core/smbus.h"
#include "orvel.h"
#include "run_program.h"

#include <cstdlib>
#include <sys/stat.h>

namespace halden::bench {

namespace {

ScheduleRecord recordOf(int i)
{
    return {uint8_t(6 + i % 3), uint8_t(i % 60), 22, 10, 3, 0x3E};
}

std::vector<std::string> rawSchedule(const ScheduleRecord &r)
{
    return {std::to_string(r.onHour), std::to_string(r.onMinute), std::to_string(r.offHour),
            std::to_string(r.offMinute), std::to_string(r.enableFlags), std::to_string(r.activeDays)};
}

} // namespace

void libraryWrite(const Counts &counts, Report &report)
{
    Figure &open = report.declare("B1.open", "ORVL_OpenInterface (scan + service check)", "ms");
    Figure &write = report.declare("B1.write", "ORVL_SetSchedule3 in-process", "ms");
    Figure &toLast = report.declare("B1.lastwrite", "  call -> its 6th register written", "ms");
    Figure &tool = report.declare("B1.orvelctl", "orvelctl schedule set (open/scan/close)", "ms");
    Figure &exec = report.declare("B1.exec", "  of which starting orvelctl (--help, whole process)", "ms");
    Figure &noBoard = report.declare("B1.noboard", "orvelctl, kmui-sim exits at once", "ms");
    Figure &simOpen = report.declare("B1.simopen", "kmui-sim CPU per ORVL_OpenInterface", "ms");
    Figure &simRequest = report.declare("B1.simreq", "kmui-sim CPU per request, SMBus path", "us");

    halden::test::TempDir dir("bench-b1");
    halden::test::KmuiSimProcess sim({"--no-state", "--trace", dir.file("trace")});
    if (!sim.start()) {
        write.note = "kmui-sim did not start: " + sim.error();
        return;
    }
    ::setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);

    Samples opens;
    const double simBeforeOpens = processUsage(sim.pid()).cpuMs;
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
    fill(open, opens);
    simOpen.median = (processUsage(sim.pid()).cpuMs - simBeforeOpens) / counts.repeats;
    simOpen.samples = counts.repeats;

    // The board writes a register when the transaction starts; the library
    // still pauses twice after that (after the start, after the done query).
    // B2 sees only the register writes, so it compares with the second figure.
    Samples writes, lastWrites;
    ORVL_OpenInterface();
    const double simBeforeWrites = processUsage(sim.pid()).cpuMs;
    for (int i = 0; i < counts.repeats; ++i) {
        const ScheduleRecord record = recordOf(i);
        const size_t before = readTrace(dir.file("trace")).size();
        const double begin = nowMs();
        const int32_t status = ORVL_SetSchedule3(&record);
        writes.add(nowMs() - begin);
        if (status != ORVL_OK)
            write.fail("call " + std::to_string(i + 1) + " returned " + std::to_string(status));
        const std::vector<TraceWrite> trace = readTrace(dir.file("trace"));
        const std::string wrong = wrongScheduleWrites(trace, before, record);
        if (!wrong.empty())
            write.fail("call " + std::to_string(i + 1) + ": " + wrong);
        else
            lastWrites.add(trace[before + 5].ms - begin);
    }
    // Each byte is three requests (ready query, start, done query).
    const double requests = double(counts.repeats) * kScheduleBytes * kPausesPerTransaction;
    simRequest.median = (processUsage(sim.pid()).cpuMs - simBeforeWrites) * 1000 / requests;
    simRequest.samples = counts.repeats;
    simRequest.note = "over " + std::to_string(int(requests)) + " requests; their replies need microseconds";
    ORVL_CloseInterface();
    ::unsetenv("KMUI_RUNTIME_DIR");

    // The floor is the protocol's, not what the board happened to see: a
    // library that wrote every register twice must read twice the floor.
    const double floor = smbusFloorMs(kScheduleBytes);
    const std::string floorName = std::to_string(kScheduleBytes) + " bytes x " +
                                  std::to_string(kPausesPerTransaction) + " x " + std::to_string(orvel::kPauseMs) +
                                  " ms pauses";
    fill(write, writes);
    write.peerName = floorName;
    write.peer = floor;
    write.maxRatio = 1.05;
    write.hardwareFloor = true;
    fill(toLast, lastWrites);

    Samples runs;
    for (int i = 0; i < counts.repeats; ++i) {
        const ScheduleRecord record = recordOf(i + 7);
        std::vector<std::string> args{HALDEN_BIN_DIR "/orvelctl", "schedule", "set", "3", "--raw"};
        for (const std::string &b : rawSchedule(record))
            args.push_back(b);
        const size_t before = readTrace(dir.file("trace")).size();
        const double begin = nowMs();
        const halden::test::ProgramResult r = halden::test::runProgram(args, {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()});
        runs.add(nowMs() - begin);
        if (r.exitCode != 0)
            tool.fail("orvelctl failed: " + r.err);
        const std::string wrong = wrongScheduleWrites(readTrace(dir.file("trace")), before, record);
        if (!wrong.empty())
            tool.fail("run " + std::to_string(i + 1) + ": " + wrong);
    }
    fill(tool, runs);
    // Where orvelctl's time goes beyond the floor: starting the process and
    // loading the library (this row), the scan of the open (B1.open), the
    // write's own overhead (B1.write less its floor).
    Samples starts;
    for (int i = 0; i < counts.repeats; ++i) {
        const double begin = nowMs();
        halden::test::runProgram({HALDEN_BIN_DIR "/orvelctl", "--help"});
        starts.add(nowMs() - begin);
    }
    fill(exec, starts);
    tool.peerName = floorName;
    tool.peer = floor;
    tool.maxRatio = 1.1;
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
            noBoard.fail("expected 'no session', got exit " + std::to_string(r.exitCode) + ": " + r.err);
    }
    fill(noBoard, failures);
    // Not a floor: what the user is promised when the board cannot come up.
    noBoard.peerName = "promised: 'no session' within 0.5 s";
    noBoard.peer = 500;
    noBoard.maxRatio = 1.0;
}

} // namespace halden::bench
