// B4: the broker killed and restarted on the same port; how long after it
// accepts again the agent is subscribed again, against the agent's reconnect
// watchdog (read from the link's definition). With the reconnects spread over
// the watchdog's period the median is about half of it, so the targets are a
// median of at most 0.6 periods and no round slower than a period + 150 ms:
// a watchdog slowed to twice its period misses both.
//
// The moment of the resubscription is the agent's own line for a retained
// probe. The probe is retained before the kill, in a broker that keeps its
// state on disk, so it is there when the agent subscribes however fast that
// is (a probe published after the restart missed the fastest rounds: a link
// subscribed before it got it live, not retained). A round without its line
// fails the row instead of being left out.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"
#include "mqtt_transmit.h"

#include <filesystem>

namespace halden::bench {

namespace {

constexpr double kPeriodMs = MqttTransmit::kWatchdogMs;

// Waits until the broker has written its state since `since` (its file's time).
bool savedSince(const halden::test::MosquittoBroker &broker, std::filesystem::file_time_type since)
{
    return waitUntil(
        [&] {
            std::error_code error;
            const auto written = std::filesystem::last_write_time(broker.persistenceFile(), error);
            return !error && written > since;
        },
        5000, 5);
}

} // namespace

void recovery(const Counts &counts, Report &report)
{
    Figure &resub = report.declare("B4.resub", "broker back -> Tamsel subscribed again", "ms");
    Figure &worst = report.declare("B4.max", "  the slowest of those", "ms");

    halden::test::MosquittoBroker broker(halden::test::MosquittoBroker::Deferred);
    // Sends a retained message on subscription at once (see probeBroker).
    broker.setListenerOptions("set_tcp_nodelay true\n");
    broker.setPersistent(true);
    Agent agent({broker.port(), "bench/recovery", "bench-pw", true});
    if (!broker.start() || !agent.startBoard() || !agent.startAgent()
        || !waitUntil([&] { return broker.countInLog("Received SUBSCRIBE") >= 1; }, 30000, 10)) {
        resub.fail("the agent did not come up: " + agent.errText());
        return;
    }
    const std::string retained = retainedLine(agent.topic()), handled = handledLine(agent.topic());

    Samples delays;
    int lost = 0;
    for (int i = 0; i < counts.restarts; ++i) {
        // The probe, retained and on disk before the broker goes.
        std::error_code error;
        const auto before = std::filesystem::last_write_time(broker.persistenceFile(), error);
        // A JSON text, so that the agent says it took it live (and refuses it).
        auto got = [&] { return agent.countInErr(handled); };
        const size_t live = got();
        RawPublisher probe(broker.port());
        const bool published = probe.publish(agent.topic(), "{\"PROBE\": " + std::to_string(i) + "}", true);
        const bool taken = published && waitUntil([&] { return got() > live; }, 10000, 2);
        if (!taken || !savedSince(broker, error ? std::filesystem::file_time_type::min() : before)) {
            resub.fail("round " + std::to_string(i + 1) + ": the probe was " +
                       std::string(!published ? "not published" : !taken ? "not taken by the agent" : "not saved by the broker"));
            ++lost;
            continue;
        }
        broker.kill();
        // Vary where in the watchdog's period the broker comes back.
        sleepMs(100 + (i * 373) % 900);
        const size_t seen = agent.countInErr(retained);
        if (!broker.start()) {
            resub.fail("the broker did not restart");
            break;
        }
        const double accepting = nowMs();
        if (!waitUntil([&] { return agent.countInErr(retained) > seen; }, 10000, 1)) {
            // Said with how late it came, if it came at all.
            ++lost;
            const bool late = waitUntil([&] { return agent.countInErr(retained) > seen; }, 30000, 5);
            char text[96];
            std::snprintf(text, sizeof text, "round %d: subscribed again %s %.0f ms", i + 1, late ? "after" : "not within",
                          nowMs() - accepting);
            resub.fail(text);
            continue;
        }
        delays.add(nowMs() - accepting);
    }
    if (lost > 0)
        resub.fail(std::to_string(lost) + " of " + std::to_string(counts.restarts) +
                   " rounds without a resubscription within 10 s");
    if (delays.empty())
        return;
    fill(resub, delays);
    resub.peerName = "the link's reconnect watchdog period";
    resub.peer = kPeriodMs;
    resub.maxRatio = 0.6;
    resub.note = "the broker accepts within 20 ms before this clock starts (its start-up poll)";
    worst.median = delays.max();
    worst.samples = int(delays.size());
    worst.peerName = "the link's reconnect watchdog period";
    worst.peer = kPeriodMs;
    worst.maxValue = kPeriodMs + 150;
}

} // namespace halden::bench
