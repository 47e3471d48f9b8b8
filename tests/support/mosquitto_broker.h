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
//
//   MosquittoBroker locked(MosquittoBroker::Deferred);
//   locked.setAllowAnonymous(false);
//   locked.setListenerOptions("password_file " + path + "\n");
//   locked.start();
//
// BrokerCertificates (below) makes a CA and a server certificate for a TLS listener.
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
    // From the next start on: anonymous clients refused and/or extra lines
    // for the listener (password_file, cafile/certfile/keyfile for TLS, ...).
    void setAllowAnonymous(bool allow) { allowAnonymous_ = allow; }
    void setListenerOptions(const std::string &lines) { listenerOptions_ = lines; }
    // From the next start on, the log leaves out the per-packet lines (for
    // floods, whose log would otherwise run to hundreds of megabytes).
    void setQuietLog(bool quiet) { quietLog_ = quiet; }
    // From the next start on, the broker keeps its state (sessions, retained
    // messages) in persistenceFile(), saved after every change, so that a
    // kill and a start on the same object carry it over.
    void setPersistent(bool persistent) { persistent_ = persistent; }
    std::string persistenceFile() const;
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
    bool persistent_ = false;
    bool allowAnonymous_ = true;
    std::string listenerOptions_;
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

// Throw-away TLS material made with openssl in its own folder: a CA, a
// server certificate for 127.0.0.1 signed by it, and a second CA that did
// not sign it (an untrusted one). Plus a mosquitto password file.
class BrokerCertificates {
public:
    BrokerCertificates();
    ~BrokerCertificates();
    bool ok() const { return ok_; }
    std::string caFile() const;
    std::string otherCaFile() const;
    // Listener lines for mosquitto: cafile, certfile, keyfile.
    std::string tlsListenerOptions() const;
    // A hashed password file for one user (made with mosquitto_passwd -U, so
    // the password never appears on a command line).
    std::string passwordFile(const std::string &user, const std::string &password) const;
    std::string error() const { return error_; }

private:
    std::unique_ptr<TempDir> dir_;
    bool ok_ = false;
    std::string error_;
};

// One message through mosquitto_pub (MQTT 3.1.1); true when it exited
// successfully within 5 s.
bool mosquittoPublish(uint16_t port, const std::string &topic, const std::string &payload,
                      int qos = 0, bool retain = false);

} // namespace halden::test
