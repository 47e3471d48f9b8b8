// B4: the broker killed and restarted on the same port; how long after it
// accepts again the agent is subscribed again, against the agent's 1 s
// reconnect watchdog. The moment of the resubscription is the agent's own
// line for the retained probe published right after the restart: the broker
// hands a retained message to every new subscription at once.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"

namespace halden::bench {

namespace {

constexpr double kWatchdogMs = 1000;  // MqttTransmit's reconnect period

} // namespace

void recovery(const Counts &counts, Report &report)
{
    Figure &resub = report.declare("B4.resub", "broker back -> Tamsel subscribed again", "ms");
    Figure &worst = report.declare("B4.max", "  the slowest of those", "ms");

    const std::unique_ptr<halden::test::MosquittoBroker> probed = probeBroker();
    halden::test::MosquittoBroker &broker = *probed;
    Agent agent({broker.port(), "bench/recovery", "bench-pw", true});
    if (!broker.running() || !agent.startBoard() || !agent.startAgent()
        || !waitUntil([&] { return broker.countInLog("Received SUBSCRIBE") >= 1; }, 30000, 10)) {
        resub.note = "the agent did not come up: " + agent.errText();
        return;
    }
    const std::string retained = retainedLine(agent.topic()), handled = handledLine(agent.topic());
    auto seen = [&] { return agent.countInErr(retained) + agent.countInErr(handled); };

    Samples delays;
    for (int i = 0; i < counts.restarts; ++i) {
        broker.kill();
        // Vary where in the watchdog's period the broker comes back.
        sleepMs(100 + (i * 373) % 900);
        if (!broker.start()) {
            resub.note = "the broker did not restart";
            break;
        }
        const double accepting = nowMs();
        const size_t before = seen();
        RawPublisher probe(broker.port());
        probe.publish(agent.topic(), "probe " + std::to_string(i), true);
        if (!waitUntil([&] { return seen() > before; }, 10000, 1)) {
            resub.note = "no resubscription within 10 s after restart " + std::to_string(i + 1);
            continue;
        }
        delays.add(nowMs() - accepting);
    }
    if (delays.empty())
        return;
    resub.median = delays.median();
    resub.peerName = "the agent's reconnect watchdog period";
    resub.peer = kWatchdogMs;
    resub.maxRatio = 1.1;
    resub.note = "the broker accepts within 20 ms before this clock starts (its start-up poll)";
    worst.median = delays.max();
    worst.peerName = "the agent's reconnect watchdog period";
    worst.peer = kWatchdogMs;
}

} // namespace halden::bench
