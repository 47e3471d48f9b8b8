// B8: a fleet rehearsal on one machine: N whole agents, each with its own
// simulated board and folder, on one broker. Rounds of one command on a topic
// they all share, then rounds of one topic each sent in a single brimlet-send
// run: the time to the last board's schedule written, how many landed (each
// board's trace must show exactly the six right writes), and what the agents
// take in memory. The yardstick is what the road is made of: one board's road
// (B2.road) plus the broker's fan-out to N links (B6's last of N).
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

// Waits for six new register writes on every board, then checks them; the
// time of the last, and how many boards got the right six.
double lastLanding(const Fleet &fleet, const std::vector<size_t> &before, const ScheduleRecord &record,
                   size_t &landed, Figure &figure, int timeoutMs)
{
    double last = -1;
    const double end = nowMs() + timeoutMs;
    std::vector<bool> done(fleet.size(), false);
    size_t arrived = 0;
    while (arrived < fleet.size() && nowMs() < end) {
        for (size_t i = 0; i < fleet.size(); ++i) {
            if (done[i])
                continue;
            const std::vector<TraceWrite> writes = fleet[i]->traceWrites();
            if (writes.size() >= before[i] + kScheduleBytes) {
                done[i] = true;
                ++arrived;
                last = std::max(last, writes[before[i] + 5].ms);
            }
        }
        sleepMs(5);
    }
    // Let the agents finish their pauses, then look at every board's writes.
    sleepMs(100);
    landed = 0;
    for (size_t i = 0; i < fleet.size(); ++i) {
        const std::string wrong = wrongScheduleWrites(fleet[i]->traceWrites(), before[i], record);
        if (wrong.empty())
            ++landed;
        else
            figure.fail("board " + std::to_string(i + 1) + ": " + wrong);
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
    Figure &simRequest = report.declare("B8.simreq", "kmui-sim CPU per request, all boards", "us");

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
    std::string budgetName;
    const Figure *road = report.find("B2.road");
    const Figure *fanOut = report.find("B6.n" + std::to_string(n) + ".last");
    if (road && road->median && fanOut && fanOut->median) {
        budget = *road->median + *fanOut->median;
        budgetName = "B2.road + B6.n" + std::to_string(n) + ".last (fan-out to N)";
    }
    auto compare = [&](Figure &f) {
        if (!budget)
            return;
        f.peerName = budgetName;
        f.peer = *budget;
        f.maxRatio = 1.25;
    };

    size_t landedShared = 0, landedEach = 0;
    if (!startAll(fleet, broker.port())) {
        shared.fail("not every agent subscribed");
        return;
    }
    auto boardsCpuMs = [&] {
        double sum = 0;
        for (auto &a : fleet)
            sum += processUsage(a->simPid()).cpuMs;
        return sum;
    };
    double boardsCpu = 0;
    Samples sharedRounds;
    double cpuBefore = boardsCpuMs();
    for (int round = 0; round < counts.fleetRounds; ++round) {
        const int minute = (round * 7) % 60;
        const std::vector<size_t> before = traceSizes(fleet);
        const double begin = nowMs();
        halden::test::mosquittoPublish(broker.port(), "bench/fleet", slotCommand("fleet-pw", 6, minute, 22, 10));
        size_t landed = 0;
        const double last = lastLanding(fleet, before, slotRecord(6, minute, 22, 10), landed, shared, 60000);
        if (last >= 0)
            sharedRounds.add(last - begin);
        landedShared += landed;
    }
    boardsCpu += boardsCpuMs() - cpuBefore;
    fill(shared, sharedRounds);
    compare(shared);
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

    // Each agent on a topic of its own, one brimlet-send run a round.
    for (size_t i = 0; i < n; ++i) {
        fleet[i]->stopAgent();
        fleet[i]->setTopic("bench/fleet/" + std::to_string(i));
    }
    if (!startAll(fleet, broker.port())) {
        each.fail("not every agent subscribed again");
        return;
    }
    halden::test::TempDir dir("bench-fleet");
    halden::test::writeFile(dir.file("pw"), "fleet-pw\n");
    Samples eachRounds;
    cpuBefore = boardsCpuMs();
    for (int round = 0; round < counts.fleetRounds; ++round) {
        const int minute = (15 + round * 7) % 60;
        char on[8];
        std::snprintf(on, sizeof on, "07:%02d", minute);
        std::vector<std::string> args{HALDEN_BIN_DIR "/brimlet-send", "slot1", "--days", "mon-fri", "--on", on,
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
            each.fail("brimlet-send: " + sent.err);
        size_t landed = 0;
        const double last = lastLanding(fleet, before, slotRecord(7, minute, 21, 40), landed, each, 60000);
        if (last >= 0)
            eachRounds.add(last - begin);
        landedEach += landed;
    }
    boardsCpu += boardsCpuMs() - cpuBefore;
    fill(each, eachRounds);
    compare(each);
    // Each schedule is six bytes of three requests (ready, start, done).
    const double requests = double(landedShared + landedEach) * kScheduleBytes * kPausesPerTransaction;
    if (requests > 0)
        simRequest.median = boardsCpu * 1000 / requests;

    landed.median = double(landedShared + landedEach);
    landed.peerName = "boards x rounds, both ways";
    landed.peer = double(2 * n * size_t(counts.fleetRounds));
    landed.minRatio = 1.0;
}

} // namespace halden::bench
