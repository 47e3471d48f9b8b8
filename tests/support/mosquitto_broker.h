#pragma once
// A real MQTT broker for tests: /usr/sbin/mosquitto on 127.0.0.1 and a free
// port, with a throw-away configuration and log in its own temporary folder.
// Plain C++ (no Qt), so any test can use it.
//
//   halden::test::MosquittoBroker broker;            // started, accepting
//   broker.port();                                   // the port it listens on
//   broker.logText();                                // the verbose broker log
//   broker.waitForLog("as halden-", 3000);           // bounded wait for a log line
//   broker.stop(); broker.start();                   // restart on the SAME port
//   broker.kill();                                   // SIGKILL, as a crash
//
//   MosquittoBroker later(MosquittoBroker::Deferred); // port chosen, not running yet
//
//   halden::test::MosquittoSubscriber sub(broker, "site/topic", 1);
//   ASSERT_TRUE(sub.ready());                        // broker has acknowledged the SUBSCRIBE
//   sub.waitForMessages(1, 3000);
//   sub.messages()[0].payload / .topic / .qos / .retain
//
//   halden::test::mosquittoPublish(broker.port(), "site/topic", "{...}");
//
// Every process started here is ended by the owning object's destructor
// (SIGTERM, a bounded wait, then SIGKILL) and also dies with the test process
// (strictly: with the thread that started it, so start them from the test's
// main thread). Children inherit no descriptors of the test process.
// The broker log is written with "log_type all", so it shows the CONNECT
// details of every client, e.g.
//   "New client connected from 127.0.0.1:40000 as <id> (p1, c0, k10)."
// where p1 means MQTT 3.1, c0 clean-session off and k10 keep-alive 10 s.
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace halden::test {

class TempDir;

// A port on 127.0.0.1 that nothing listens on at the moment of the call.
uint16_t freeLoopbackPort();

class MosquittoBroker {
public:
    enum StartMode { StartNow, Deferred };

    explicit MosquittoBroker(StartMode mode = StartNow);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    // Starts the broker on port() and waits (at most 5 s) until it accepts
    // connections. False when it did not come up; the log then says why.
    bool start();
    // Ends the broker: SIGTERM, up to 3 s, then SIGKILL. No-op when stopped.
    void stop();
    // Ends it at once with SIGKILL, as a crash or a power cut would.
    void kill();
    // From the next start on, the log leaves out the per-packet lines (for
    // floods, whose log would otherwise run to hundreds of megabytes).
    void setQuietLog(bool quiet) { quietLog_ = quiet; }
    bool running() const { return pid_ > 0; }

    std::string host() const { return "127.0.0.1"; }
    uint16_t port() const { return port_; }

    // The broker's own log file (all log types) and its stdout/stderr.
    std::string logPath() const;
    std::string logText() const;
    std::string outputText() const;
    // Polls the log until it contains needle; false after timeoutMs. This
    // sleeps the calling thread: a Qt test whose client must make progress
    // meanwhile polls countInLog() inside an event-loop wait instead.
    bool waitForLog(const std::string &needle, int timeoutMs) const;
    // Number of occurrences of needle in the log.
    size_t countInLog(const std::string &needle) const;

private:
    bool launch();

    std::unique_ptr<TempDir> dir_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
    bool quietLog_ = false;
};

struct MqttReceived {
    std::string topic;
    int qos = -1;
    bool retain = false;
    std::string payload;
};

// mosquitto_sub in the background, collecting every message on one topic
// (filter) with its topic, QoS, retain flag and raw payload bytes.
class MosquittoSubscriber {
public:
    MosquittoSubscriber(const MosquittoBroker &broker, const std::string &topic, int qos = 0);
    ~MosquittoSubscriber();
    MosquittoSubscriber(const MosquittoSubscriber &) = delete;
    MosquittoSubscriber &operator=(const MosquittoSubscriber &) = delete;

    // True once the broker has acknowledged the subscription (waits at most 5 s).
    bool ready() const;
    std::vector<MqttReceived> messages() const;
    bool waitForMessages(size_t count, int timeoutMs) const;
    const std::string &clientId() const { return clientId_; }
    void stop();

private:
    const MosquittoBroker &broker_;
    std::unique_ptr<TempDir> dir_;
    std::string clientId_;
    pid_t pid_ = -1;
};

// One message through mosquitto_pub (MQTT 3.1.1); true when it exited
// successfully within 5 s.
bool mosquittoPublish(uint16_t port, const std::string &topic, const std::string &payload,
                      int qos = 0, bool retain = false);

} // namespace halden::test
