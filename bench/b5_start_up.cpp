// B5: from starting Tamsel to its window showing both slots, with the
// firmware table present and absent. The window is filled before the agent's
// event loop runs and its broker link subscribes from that loop, so the
// agent's line for a retained probe on its topic marks that moment.
// Compared with the SMBus floor of reading both slots, and with how long a
// minimal Qt widgets program with a window and a tray icon takes to reach its
// event loop.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"
#include "run_program.h"

namespace halden::bench {

namespace {

// Two slots of six registers.
constexpr int kSlotReads = 2 * 6;

double startOnce(uint16_t port, bool table, std::string &note)
{
    Agent agent({port, "bench/start", "bench-pw", table});
    if (!agent.startBoard()) {
        note = "kmui-sim did not start";
        return -1;
    }
    const double begin = nowMs();
    if (!agent.startAgent()
        || !waitUntil([&] { return agent.countInErr(retainedLine(agent.topic())) > 0; }, 30000, 1)) {
        note = "the agent did not show its window: " + agent.errText();
        return -1;
    }
    return nowMs() - begin;
}

} // namespace

void startUp(const Counts &counts, Report &report)
{
    Figure &withTable = report.declare("B5.table", "Tamsel start -> both slots shown", "ms");
    Figure &noTable = report.declare("B5.notable", "Tamsel start -> window, no firmware table", "ms");

    const std::unique_ptr<halden::test::MosquittoBroker> probed = probeBroker();
    halden::test::MosquittoBroker &broker = *probed;
    RawPublisher retain(broker.port());
    if (!broker.running() || !retain.publish("bench/start", "probe", true)) {
        withTable.note = "no broker";
        return;
    }
    Samples present, absent, reference;
    for (int i = 0; i < counts.startups; ++i) {
        const double a = startOnce(broker.port(), true, withTable.note);
        const double b = startOnce(broker.port(), false, noTable.note);
        if (a >= 0)
            present.add(a);
        if (b >= 0)
            absent.add(b);
        const double begin = nowMs();
        const halden::test::ProgramResult r = halden::test::runProgram(
            {HALDEN_BIN_DIR "/bench-reference-tray", "--exit-when-ready"}, {"QT_QPA_PLATFORM=offscreen"});
        if (r.exitCode == 0)
            reference.add(nowMs() - begin);
    }
    if (!present.empty()) {
        fill(withTable, present);
        withTable.peerName = "reading both slots: 12 bytes x 3 pauses";
        withTable.peer = smbusFloorMs(kSlotReads);
        withTable.hardwareFloor = true;
    }
    fill(noTable, absent);
    if (!reference.empty()) {
        noTable.peerName = "minimal Qt window + tray, start to painted";
        noTable.peer = reference.median();
    }
}

} // namespace halden::bench
