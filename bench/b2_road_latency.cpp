// B2: the whole road of a schedule, from mosquitto_pub of a SLOT1 command to
// the last of its six registers written on the simulated board (read from
// the board's trace), against what it is made of: B1's in-process write (to
// its last register, as the trace shows it) plus one broker hop, both
// measured in this run.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"

#include <atomic>
#include <mosquitto.h>

namespace halden::bench {

namespace {

// One pub -> sub round through the broker: mosquitto_pub started, message
// seen by a subscriber in this process.
class HopProbe {
public:
    HopProbe(uint16_t port, const std::string &topic) : topic_(topic)
    {
        mosquitto_lib_init();
        handle_ = mosquitto_new(nullptr, true, this);
        mosquitto_subscribe_callback_set(handle_, [](mosquitto *, void *self, int, int, const int *) {
            static_cast<HopProbe *>(self)->subscribed_ = true;
        });
        mosquitto_message_callback_set(handle_, [](mosquitto *, void *self, const mosquitto_message *) {
            static_cast<HopProbe *>(self)->arrived_ = nowMs();
        });
        ok_ = mosquitto_connect(handle_, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS
              && mosquitto_subscribe(handle_, nullptr, topic.c_str(), 1) == MOSQ_ERR_SUCCESS
              && mosquitto_loop_start(handle_) == MOSQ_ERR_SUCCESS
              && waitUntil([&] { return subscribed_.load(); }, 5000);
    }
    ~HopProbe()
    {
        mosquitto_disconnect(handle_);
        mosquitto_loop_stop(handle_, true);
        mosquitto_destroy(handle_);
    }
    bool ok() const { return ok_; }
    // Milliseconds from starting mosquitto_pub to the message here; -1 if lost.
    double round(uint16_t port, const std::string &payload)
    {
        arrived_ = -1;
        const double begin = nowMs();
        halden::test::mosquittoPublish(port, topic_, payload);
        if (!waitUntil([&] { return arrived_.load() >= 0; }, 5000, 0.2))
            return -1;
        return arrived_ - begin;
    }

private:
    std::string topic_;
    mosquitto *handle_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::atomic<double> arrived_{-1};
    bool ok_ = false;
};

} // namespace

void roadLatency(const Counts &counts, Report &report)
{
    Figure &road = report.declare("B2.road", "mosquitto_pub SLOT1 -> 6th register written", "ms");
    Figure &hop = report.declare("B2.hop", "broker hop: mosquitto_pub -> subscriber", "ms");

    halden::test::MosquittoBroker broker;
    Agent agent({broker.port(), "bench/road", "bench-pw", true});
    if (!broker.running() || !agent.startBoard() || !agent.startAgent()
        || !waitUntil([&] { return broker.countInLog("Received SUBSCRIBE") >= 1; }, 30000, 10)) {
        road.note = "the agent did not come up: " + agent.errText();
        return;
    }

    Samples roads, hops;
    for (int i = 0; i < counts.repeats; ++i) {
        const size_t before = agent.traceWrites().size();
        const std::string command = slotCommand("bench-pw", 6 + i % 3, i % 60, 22, 10);
        const double begin = nowMs();
        halden::test::mosquittoPublish(broker.port(), agent.topic(), command);
        std::vector<TraceWrite> writes;
        if (!waitUntil([&] { return (writes = agent.traceWrites()).size() >= before + kScheduleBytes; }, 10000, 1)) {
            road.fail("command " + std::to_string(i + 1) + " did not land");
            continue;
        }
        roads.add(writes[before + 5].ms - begin);
        // The agent pauses twice more after the last register write, with
        // its event loop busy; the next command must not wait for that.
        sleepMs(100);
        const std::string wrong = wrongScheduleWrites(agent.traceWrites(), before, slotRecord(6 + i % 3, i % 60, 22, 10));
        if (!wrong.empty())
            road.fail("command " + std::to_string(i + 1) + ": " + wrong);
    }
    HopProbe probe(broker.port(), "bench/hop");
    for (int i = 0; probe.ok() && i < counts.repeats; ++i) {
        const double ms = probe.round(broker.port(), slotCommand("bench-pw", 6, i % 60, 22, 10));
        if (ms >= 0)
            hops.add(ms);
    }
    fill(hop, hops);
    if (roads.empty())
        return;
    fill(road, roads);
    const Figure *write = report.find("B1.lastwrite");
    if (write && write->median && hop.median) {
        road.peerName = "B1.lastwrite + B2.hop";
        road.peer = *write->median + *hop.median;
        road.maxRatio = 1.1;
    }
}

} // namespace halden::bench
