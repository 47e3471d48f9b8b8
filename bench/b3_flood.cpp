// B3: a flood of wrong-digest SLOT1 commands at a running agent, beside
// mosquitto_sub draining the same flood from the same broker: that the agent
// keeps up with the publisher, what the flood costs it in memory, and that a
// correct command right after it still lands. Keeping up is bounded by the
// publisher and the broker, so it cannot show what the agent can take; its
// capacity is measured apart: a flood queued at the broker while the agent is
// stopped (SIGSTOP), then drained as fast as it can after SIGCONT, against
// mosquitto_sub draining the same queue the same way.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"

#include <algorithm>
#include <csignal>
#include <thread>

namespace halden::bench {

namespace {

// The agent's keep-alive is 10 s: stopped for longer, the broker would drop
// it with its queue. This many queue up in a few seconds.
constexpr long kMostQueued = 250000;

// Stops the agent and a second mosquitto_sub, queues `count` messages at the
// broker for both (a third, running subscriber tells when the broker has
// routed them all), then lets each drain alone and times it.
void measureCapacity(uint16_t port, Agent &agent, GrowingFileCounter &taken, const std::string &payload, long count,
                     Figure &capacity)
{
    const pid_t stopped = spawnMosquittoSub(port, agent.topic(), count);
    const pid_t witness = spawnMosquittoSub(port, agent.topic(), count);
    sleepMs(1000); // both subscribed
    ::kill(agent.agentPid(), SIGSTOP);
    ::kill(stopped, SIGSTOP);
    RawPublisher publisher(port);
    const size_t base = taken.count();
    const bool sent = publisher.publishMany(agent.topic(), payload, count);
    const bool routed = sent && waitUntil([&] { return childEnded(witness); }, 60000, 2);
    const double agentBegin = nowMs();
    ::kill(agent.agentPid(), SIGCONT);
    if (!routed) {
        ::kill(stopped, SIGCONT);
        endChild(stopped);
        endChild(witness);
        capacity.fail("the broker did not route the queued flood");
        return;
    }
    size_t last = base;
    double lastProgress = nowMs();
    // Looked at seldom: reading the agent's growing output takes a core's
    // time that the agent would otherwise have (mosquitto_sub is timed by
    // its exit, which costs nothing).
    while (taken.count() < base + size_t(count) && nowMs() - lastProgress < 20000) {
        sleepMs(20);
        if (const size_t n = taken.count(); n != last) {
            last = n;
            lastProgress = nowMs();
        }
    }
    const double agentEnd = nowMs();
    const size_t took = taken.count() - base;
    const double subBegin = nowMs();
    ::kill(stopped, SIGCONT);
    const bool drained = waitUntil([&] { return childEnded(stopped); }, 60000, 20);
    const double subEnd = nowMs();
    endChild(stopped);
    endChild(witness);
    if (took < size_t(count))
        capacity.fail("Tamsel took " + std::to_string(took) + " of the " + std::to_string(count) + " queued");
    capacity.median = double(took) / ((agentEnd - agentBegin) / 1e3);
    if (drained) {
        capacity.peerName = "mosquitto_sub draining the same queue";
        capacity.peer = double(count) / ((subEnd - subBegin) / 1e3);
        capacity.minRatio = 0.5;
    }
    capacity.note = std::to_string(count) + " messages queued while each was stopped";
}

} // namespace

void flood(const Counts &counts, Report &report)
{
    Figure &rate = report.declare("B3.rate", "Tamsel keeps up with the publisher (flood)", "msg/s");
    Figure &capacity = report.declare("B3.capacity", "Tamsel drains a flood queued while it was stopped", "msg/s");
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
    measureCapacity(broker.port(), agent, taken, wrong, std::min<long>(total, kMostQueued), capacity);
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
