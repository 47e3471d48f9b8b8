// B6: N of the programs' own broker links (MqttTransmit) in one process, all
// on one topic, and a command published a number of times: how many get each
// and how soon, and how long until the last of the N has it, against N plain
// libmosquitto subscribers (what mosquitto_sub does) on the same broker in
// the same run.
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "mqtt_load.h"
#include "mqtt_transmit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <algorithm>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace halden::bench {

namespace {

// Room for N links, N peers and the broker's side of both (the broker is a
// child and inherits the limit).
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void spin(const std::function<bool()> &done, int timeoutMs)
{
    const double end = nowMs() + timeoutMs;
    while (!done() && nowMs() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

void fillAt(Figure &figure, const Samples &s, double q)
{
    if (s.empty())
        return;
    figure.median = s.percentile(q);
    figure.samples = int(s.size());
}

} // namespace

static void fanOutRound(int n, int publishes, Report &report)
{
    const std::string id = "B6.n" + std::to_string(n);
    Figure &delivered =
        report.declare(id + ".delivered", "MqttTransmit links that got it (N=" + std::to_string(n) + ")", "count");
    Figure &p50 = report.declare(id + ".p50", "  publish -> link, median", "ms");
    Figure &p99 = report.declare(id + ".p99", "  publish -> link, p99", "ms");
    Figure &last = report.declare(id + ".last", "  publish -> the last of the N links", "ms");

    raiseDescriptorLimit();
    halden::test::MosquittoBroker broker(halden::test::MosquittoBroker::Deferred);
    broker.setQuietLog(true);
    if (!broker.start()) {
        delivered.fail("no broker");
        return;
    }
    const std::string topic = "bench/fan-out";
    const std::string command = slotCommand("bench-pw", 6, 30, 22, 10);

    // Every (link, publish) pair is a sample of the latency; the slowest link
    // of each publish is one of the fan-out to all N.
    Samples links, lasts;
    size_t got = 0;
    {
        QObject owner;
        std::vector<double> arrived(size_t(n), -1);
        int subscribed = 0;
        for (int i = 0; i < n; ++i) {
            auto *link = new MqttTransmit(QHostAddress::LocalHost, broker.port(), QString::fromStdString(topic), &owner);
            QObject::connect(link, &QMQTT::Client::subscribed, &owner, [&subscribed] { ++subscribed; });
            QObject::connect(link, &MqttTransmit::SignalMqttReceived, &owner, [&arrived, i] {
                if (arrived[size_t(i)] < 0)
                    arrived[size_t(i)] = nowMs();
            });
            link->connectToHost();
        }
        spin([&] { return subscribed >= n; }, 120000);
        if (subscribed < n)
            delivered.fail(std::to_string(subscribed) + " of " + std::to_string(n) + " links subscribed");
        // Connected well ahead, so that only the fan-out is timed: a publish
        // sent right behind the CONNECT waits for TCP acknowledgements (the
        // broker's Nagle against the client's delayed ACK, up to 40 ms).
        RawPublisher publisher(broker.port());
        spin([] { return false; }, 200);
        for (int round = 0; round < publishes; ++round) {
            std::fill(arrived.begin(), arrived.end(), -1);
            const double begin = nowMs();
            publisher.publish(topic, command);
            spin([&] { return std::count_if(arrived.begin(), arrived.end(), [](double t) { return t >= 0; }) >= n; },
                 10000);
            double slowest = -1;
            for (double t : arrived)
                if (t >= 0) {
                    links.add(t - begin);
                    slowest = std::max(slowest, t - begin);
                    ++got;
                }
            if (slowest >= 0)
                lasts.add(slowest);
            spin([] { return false; }, 50);
        }
    }

    Samples plain, plainLasts;
    {
        PlainSubscribers peers(broker.port(), topic, n);
        RawPublisher publisher(broker.port());
        if (peers.waitSubscribed(120000)) {
            sleepMs(200);
            for (int round = 0; round < publishes; ++round) {
                const double begin = nowMs();
                publisher.publish(topic, command);
                double slowest = -1;
                for (double t : peers.waitMessages(10000)) {
                    plain.add(t - begin);
                    slowest = std::max(slowest, t - begin);
                }
                if (slowest >= 0)
                    plainLasts.add(slowest);
                sleepMs(50);
            }
        }
    }

    delivered.median = double(got) / publishes;
    delivered.samples = publishes;
    delivered.peerName = "links subscribed";
    delivered.peer = double(n);
    delivered.minRatio = 1.0;
    fillAt(p50, links, 0.5);
    // A p99 of fewer than 100 samples is their maximum, and says so.
    fillAt(p99, links, 0.99);
    p99.maxValue = 100;
    fill(last, lasts);
    if (!plain.empty()) {
        const std::string peers = "plain libmosquitto subscribers (" + std::to_string(n) + ")";
        p50.peerName = p99.peerName = last.peerName = peers;
        p50.peer = plain.percentile(0.5);
        p99.peer = plain.percentile(0.99);
        last.peer = plainLasts.median();
    }
}

void fanOut(const Counts &counts, Report &report)
{
    // The fleet's own size too: B8 is compared with its fan-out.
    std::vector<int> sizes = counts.fanOutLinks;
    if (std::find(sizes.begin(), sizes.end(), counts.fleetAgents) == sizes.end())
        sizes.push_back(counts.fleetAgents);
    std::sort(sizes.begin(), sizes.end());
    for (int n : sizes)
        fanOutRound(n, counts.fanOutPublishes, report);
}

} // namespace halden::bench
