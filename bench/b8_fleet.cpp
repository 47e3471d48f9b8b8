// B8: a fleet rehearsal on one machine: N whole agents, each with its own
// simulated board and folder, on one broker. One command on a topic they all
// share, then one topic each sent in a single brimlet-send run: the time to
// the last board's schedule written, how many landed, and what the agents
// take in memory.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"
#include "run_program.h"

#include <memory>

namespace halden::bench {

namespace {

using Fleet = std::vector<std::unique_ptr<Agent>>;

// Starts every agent and waits until each has taken the retained probe on its
// topic, i.e. is subscribed.
bool startAll(Fleet &fleet, uint16_t port)
{
    RawPublisher probe(port);
    for (auto &a : fleet)
        if (!probe.publish(a->topic(), "probe", true) || !a->startAgent())
            return false;
    return waitUntil(
        [&] {
            for (auto &a : fleet)
                if (a->countInErr(retainedLine(a->topic())) == 0)
                    return false;
            return true;
        },
        30000 + int(fleet.size()) * 1000, 50);
}

// Waits for six new register writes on every board; the time of the last
// one, and how many boards got theirs.
double lastLanding(const Fleet &fleet, const std::vector<size_t> &before, size_t &landed, int timeoutMs)
{
    double last = -1;
    const double end = nowMs() + timeoutMs;
    std::vector<bool> done(fleet.size(), false);
    landed = 0;
    while (landed < fleet.size() && nowMs() < end) {
        for (size_t i = 0; i < fleet.size(); ++i) {
            if (done[i])
                continue;
            const std::vector<TraceWrite> writes = fleet[i]->traceWrites();
            if (writes.size() >= before[i] + 6) {
                done[i] = true;
                ++landed;
                last = std::max(last, writes[before[i] + 5].ms);
            }
        }
        sleepMs(5);
    }
    return last;
}

std::vector<size_t> traceSizes(const Fleet &fleet)
{
    std::vector<size_t> sizes;
    for (auto &a : fleet)
        sizes.push_back(a->traceWrites().size());
    return sizes;
}

} // namespace

void fleet(const Counts &counts, Report &report)
{
    const size_t n = size_t(counts.fleetAgents);
    const std::string suffix = " (N=" + std::to_string(n) + ")";
    Figure &shared = report.declare("B8.shared", "one topic for all -> last schedule written" + suffix, "ms");
    Figure &each = report.declare("B8.each", "a topic each, one brimlet-send -> last written", "ms");
    Figure &landed = report.declare("B8.landed", "schedules landed, both rounds", "count");
    Figure &perAgent = report.declare("B8.rss", "RSS per agent (Tamsel)", "MiB");
    Figure &total = report.declare("B8.rss.all", "RSS of all agents and their boards", "MiB");

    halden::test::MosquittoBroker broker(halden::test::MosquittoBroker::Deferred);
    broker.setQuietLog(true);
    if (!broker.start()) {
        shared.note = "no broker";
        return;
    }
    Fleet fleet;
    for (size_t i = 0; i < n; ++i) {
        fleet.push_back(std::make_unique<Agent>(Agent::Options{broker.port(), "bench/fleet", "fleet-pw", true}));
        if (!fleet.back()->startBoard()) {
            shared.note = "a board did not start";
            return;
        }
    }
    std::optional<double> budget;
    if (const Figure *road = report.find("B2.road"); road && road->median)
        budget = *road->median + 1000;
    auto compare = [&](Figure &f) {
        if (!budget)
            return;
        f.peerName = "B2.road + 1 s";
        f.peer = *budget;
        f.maxRatio = 1.0;
    };

    size_t landedShared = 0, landedEach = 0;
    if (!startAll(fleet, broker.port())) {
        shared.note = "not every agent subscribed";
        return;
    }
    {
        const std::vector<size_t> before = traceSizes(fleet);
        const double begin = nowMs();
        halden::test::mosquittoPublish(broker.port(), "bench/fleet", slotCommand("fleet-pw", 6, 30, 22, 10));
        const double last = lastLanding(fleet, before, landedShared, 60000);
        if (last >= 0)
            shared.median = last - begin;
        compare(shared);
    }
    double agentsRss = 0, boardsRss = 0;
    for (auto &a : fleet) {
        agentsRss += processUsage(a->agentPid()).rssMiB;
        boardsRss += processUsage(a->simPid()).rssMiB;
    }
    perAgent.median = agentsRss / double(n);
    if (const Figure *idle = report.find("B7.tamsel.rss"); idle && idle->median) {
        perAgent.peerName = "B7.tamsel.rss (one agent alone)";
        perAgent.peer = *idle->median;
    }
    total.median = agentsRss + boardsRss;
    char text[96];
    std::snprintf(text, sizeof text, "agents %.0f MiB, boards %.0f MiB", agentsRss, boardsRss);
    total.note = text;

    // Round two: each agent on a topic of its own, one brimlet-send run.
    for (size_t i = 0; i < n; ++i) {
        fleet[i]->stopAgent();
        fleet[i]->setTopic("bench/fleet/" + std::to_string(i));
    }
    if (!startAll(fleet, broker.port())) {
        each.note = "not every agent subscribed again";
        return;
    }
    halden::test::TempDir dir("bench-fleet");
    halden::test::writeFile(dir.file("pw"), "fleet-pw\n");
    std::vector<std::string> args{HALDEN_BIN_DIR "/brimlet-send", "slot1", "--days", "mon-fri", "--on", "07:15",
                                  "--off", "21:40", "--port", std::to_string(broker.port()), "--password-file",
                                  dir.file("pw")};
    for (auto &a : fleet) {
        args.push_back("--topic");
        args.push_back(a->topic());
    }
    const std::vector<size_t> before = traceSizes(fleet);
    const double begin = nowMs();
    const halden::test::ProgramResult sent = halden::test::runProgram(args, {}, 60000);
    if (sent.exitCode != 0)
        each.note = "brimlet-send: " + sent.err;
    const double last = lastLanding(fleet, before, landedEach, 60000);
    if (last >= 0)
        each.median = last - begin;
    compare(each);

    landed.median = double(landedShared + landedEach);
    landed.peerName = "boards x 2 rounds";
    landed.peer = double(2 * n);
    landed.minRatio = 1.0;
}

} // namespace halden::bench
