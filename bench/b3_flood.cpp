// B3: a flood of wrong-digest SLOT1 commands at a running agent, beside
// mosquitto_sub draining the same flood from the same broker: how fast the
// agent takes messages, what the flood costs it in memory, and that a
// correct command right after it still lands.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"

#include <thread>

namespace halden::bench {

void flood(const Counts &counts, Report &report)
{
    Figure &rate = report.declare("B3.rate", "Tamsel messages handled per second (flood)", "msg/s");
    Figure &rss = report.declare("B3.rss", "Tamsel RSS growth over the flood", "MiB");
    Figure &lost = report.declare("B3.lost", "flood messages Tamsel did not take", "count");
    Figure &after = report.declare("B3.after", "correct command after the flood -> landed", "ms");
    const long total = counts.floodMessages;

    halden::test::MosquittoBroker broker(halden::test::MosquittoBroker::Deferred);
    broker.setQuietLog(true);
    // By default the broker drops QoS 0 messages for a subscriber more than
    // 1000 behind; without that limit every message reaches the agent, so
    // what it does not take is its own loss.
    broker.setListenerOptions("max_queued_messages 0\n");
    Agent agent({broker.port(), "bench/flood", "bench-pw", true});
    const std::string handled = handledLine(agent.topic());
    GrowingFileCounter taken(agent.errPath(), handled);
    if (!broker.start() || !agent.startBoard() || !agent.startAgent()
        || !waitUntil([&] { return broker.countInLog("New client connected") >= 1; }, 30000, 10)) {
        rate.note = "the agent did not come up: " + agent.errText();
        return;
    }
    sleepMs(1500);  // subscribed and settled
    const pid_t drain = spawnMosquittoSub(broker.port(), agent.topic(), total);
    waitUntil([&] { return broker.countInLog("New client connected") >= 2; }, 10000, 10);
    sleepMs(300);
    const ProcessUsage before = processUsage(agent.agentPid());

    // A wrong digest: parsed and checked like any command, then dropped.
    const std::string wrong = slotCommand("not-the-password", 6, 30, 22, 10);
    RawPublisher publisher(broker.port());
    const double begin = nowMs();
    std::thread sender([&] { publisher.publishMany(agent.topic(), wrong, total); });
    double subDone = -1, agentDone = -1;
    size_t lastCount = 0;
    double lastProgress = nowMs();
    while (subDone < 0 || agentDone < 0) {
        sleepMs(5);
        if (subDone < 0 && childEnded(drain))
            subDone = nowMs();
        const size_t n = taken.count();
        if (agentDone < 0 && n >= size_t(total))
            agentDone = nowMs();
        if (n != lastCount) {
            lastCount = n;
            lastProgress = nowMs();
        }
        if (nowMs() - lastProgress > 20000)
            break;  // the agent stopped taking messages
    }
    sender.join();
    endChild(drain);
    const size_t took = taken.count();
    const double end = agentDone >= 0 ? agentDone : lastProgress;
    rate.median = double(took) / ((end - begin) / 1e3);
    if (subDone >= 0) {
        rate.peerName = "mosquitto_sub on the same flood";
        rate.peer = double(total) / ((subDone - begin) / 1e3);
        rate.minRatio = 0.5;
    }
    rate.note = std::to_string(total) + " messages of " + std::to_string(wrong.size()) + " bytes";
    lost.median = double(total - long(took));
    lost.note = "Tamsel took " + std::to_string(took) + " of " + std::to_string(total);

    sleepMs(1000);
    const ProcessUsage afterFlood = processUsage(agent.agentPid());
    rss.median = afterFlood.rssMiB - before.rssMiB;
    rss.peerName = "budget";
    rss.peer = 5;
    rss.maxRatio = 1.0;
    char text[96];
    std::snprintf(text, sizeof text, "RSS %.1f MiB before, %.1f MiB after", before.rssMiB, afterFlood.rssMiB);
    rss.note = text;

    const size_t writesBefore = agent.traceWrites().size();
    const double sent = nowMs();
    halden::test::mosquittoPublish(broker.port(), agent.topic(), slotCommand("bench-pw", 7, 45, 21, 5));
    std::vector<TraceWrite> writes;
    if (waitUntil([&] { return (writes = agent.traceWrites()).size() >= writesBefore + 6; }, 30000, 1)) {
        after.median = writes[writesBefore + 5].ms - sent;
        if (const Figure *road = report.find("B2.road"); road && road->median) {
            after.peerName = "B2.road";
            after.peer = *road->median;
        }
    } else {
        after.note = "the correct command after the flood did not land";
    }
}

} // namespace halden::bench
