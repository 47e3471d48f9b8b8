#pragma once
// MQTT peers for the benchmarks, kept as lean as the protocol allows so that
// they are never what is being measured:
//  - RawPublisher writes QoS 0 PUBLISH packets straight into a blocking TCP
//    socket, in large batches (a flood as fast as the broker takes it);
//  - PlainSubscribers are N plain libmosquitto clients on one topic driven by
//    one poll() loop, the mosquitto_sub-equivalent peer of N agent links;
//  - spawnMosquittoSub runs mosquitto_sub itself, to drain a flood.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;

namespace halden::bench {

class RawPublisher {
public:
    explicit RawPublisher(uint16_t port);
    ~RawPublisher();
    RawPublisher(const RawPublisher &) = delete;
    RawPublisher &operator=(const RawPublisher &) = delete;

    bool connected() const { return fd_ >= 0; }
    bool publish(const std::string &topic, const std::string &payload, bool retain = false);
    // count copies of one message, written in batches; false when the
    // connection broke.
    bool publishMany(const std::string &topic, const std::string &payload, long count);

private:
    bool writeAll(const std::string &bytes);
    int fd_ = -1;
};

class PlainSubscribers {
public:
    PlainSubscribers(uint16_t port, const std::string &topic, int count);
    ~PlainSubscribers();
    PlainSubscribers(const PlainSubscribers &) = delete;
    PlainSubscribers &operator=(const PlainSubscribers &) = delete;

    // Runs the loop until every client's subscription is acknowledged.
    bool waitSubscribed(int timeoutMs);
    // Runs the loop until each client has a message that arrived since the
    // call began (or the time is up); arrival times (nowMs) of those that got one.
    std::vector<double> waitMessages(int timeoutMs);

    struct Client {
        mosquitto *handle = nullptr;
        bool subscribed = false;
        double arrivedMs = -1;
        std::string topic;
    };

private:
    void runOnce(int pollMs);
    std::vector<Client> clients_;
};

// mosquitto_sub -C count on topic, output to /dev/null; its pid.
pid_t spawnMosquittoSub(uint16_t port, const std::string &topic, long count);
// Exit status once it ended (a non-blocking check); -1 while it runs.
bool childEnded(pid_t pid, int *status = nullptr);
void endChild(pid_t pid);

} // namespace halden::bench
