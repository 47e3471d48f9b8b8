// B6: N of the programs' own broker links (MqttTransmit) in one process, all
// on one topic, and one command published: how many get it and how soon,
// against N plain libmosquitto subscribers (what mosquitto_sub does) on the
// same broker in the same run.
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

void fill(Figure &figure, const Samples &s, double q)
{
    if (!s.empty())
        figure.median = s.percentile(q);
}

} // namespace

static void fanOutRound(int n, Report &report)
{
    const std::string id = "B6.n" + std::to_string(n);
    Figure &delivered =
        report.declare(id + ".delivered", "MqttTransmit links that got it (N=" + std::to_string(n) + ")", "count");
    Figure &p50 = report.declare(id + ".p50", "  publish -> link, median", "ms");
    Figure &p99 = report.declare(id + ".p99", "  publish -> link, p99", "ms");

    raiseDescriptorLimit();
    halden::test::MosquittoBroker broker(halden::test::MosquittoBroker::Deferred);
    broker.setQuietLog(true);
    if (!broker.start()) {
        delivered.note = "no broker";
        return;
    }
    const std::string topic = "bench/fan-out";
    const std::string command = slotCommand("bench-pw", 6, 30, 22, 10);

    Samples links;
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
            delivered.note = std::to_string(subscribed) + " of " + std::to_string(n) + " links subscribed";
        // Connected well ahead, so that only the fan-out is timed: a publish
        // sent right behind the CONNECT waits for TCP acknowledgements (the
        // broker's Nagle against the client's delayed ACK, up to 40 ms).
        RawPublisher publisher(broker.port());
        spin([] { return false; }, 200);
        const double begin = nowMs();
        publisher.publish(topic, command);
        spin([&] { return std::count_if(arrived.begin(), arrived.end(), [](double t) { return t >= 0; }) >= n; },
             10000);
        for (double t : arrived)
            if (t >= 0) {
                links.add(t - begin);
                ++got;
            }
    }

    Samples plain;
    {
        PlainSubscribers peers(broker.port(), topic, n);
        RawPublisher publisher(broker.port());
        if (peers.waitSubscribed(120000)) {
            sleepMs(200);
            const double begin = nowMs();
            publisher.publish(topic, command);
            for (double t : peers.waitMessages(10000))
                plain.add(t - begin);
        }
    }

    delivered.median = double(got);
    delivered.peerName = "links subscribed";
    delivered.peer = double(n);
    delivered.minRatio = 1.0;
    fill(p50, links, 0.5);
    fill(p99, links, 0.99);
    p99.maxValue = 100;
    if (!plain.empty()) {
        p50.peerName = p99.peerName = "plain libmosquitto subscribers (" + std::to_string(plain.size()) + " got it)";
        p50.peer = plain.percentile(0.5);
        p99.peer = plain.percentile(0.99);
    }
}

void fanOut(const Counts &counts, Report &report)
{
    for (int n : counts.fanOutLinks)
        fanOutRound(n, report);
}

} // namespace halden::bench
