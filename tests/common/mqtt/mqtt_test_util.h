#pragma once
// Small tools for the broker link tests: bounded waits that keep the Qt event
// loop running, a probe of how late a 10 ms timer fires, and a loopback
// listener that never answers.
#include <QElapsedTimer>
#include <QObject>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>

namespace halden::test {

// Runs the event loop until pred() holds or timeoutMs passed.
inline bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    return QTest::qWaitFor(pred, timeoutMs);
}

// Runs the event loop for ms milliseconds.
inline void spin(int ms)
{
    QTest::qWait(ms);
}

// How late a 10 ms timer fires while the event loop runs, in milliseconds.
struct Lateness {
    double maxMs = 0;
    double meanMs = 0;
    int ticks = 0;
};

// Measures timer lateness over durationMs while the event loop serves
// everything else (the code under test included).
Lateness measureLateness(int durationMs);

// Measures up to `windows` windows of windowMs each and stops at the first
// whose worst tick stays under boundMs; returns that window, or the last one.
// On a shared machine another process can delay any single tick; a block in
// the code under test comes back in every window that contains an attempt,
// so windows longer than the attempt period cannot hide it. Prints each
// window's figures under `label`.
Lateness measureLatenessWithin(double boundMs, int windows, int windowMs, const char *label);

// The CONNECT packet as an MQTT 3.1 server reads it.
struct ConnectPacket {
    bool valid = false;
    std::string protocolName;
    int level = -1;
    int flags = -1;
    int keepAlive = -1;
    std::string clientId;
};

// Reads the CONNECT at the start of bytes; valid is false when they do not
// begin with a whole one.
ConnectPacket parseConnect(const std::string &bytes);

// A TCP listener on 127.0.0.1 whose accept queue is full, so that the kernel
// drops further handshakes: a connection attempt to it stays pending, like
// one to an address where nothing answers. release() empties the queue so
// that a retried handshake gets through and can be accepted.
class SilentListener {
public:
    // port 0: any free one; else that port (taken over with SO_REUSEADDR, so
    // a broker can listen there once this listener is gone).
    explicit SilentListener(uint16_t port = 0);
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    uint16_t port() const { return port_; }
    bool ok() const { return listenFd_ >= 0; }
    void release();
    // Accepts one connection (waiting at most timeoutMs while the event loop
    // runs) and returns its descriptor, or -1.
    int acceptOne(int timeoutMs);
    // Reads what is available on fd, waiting at most timeoutMs for minBytes.
    static std::string readSome(int fd, size_t minBytes, int timeoutMs);

private:
    int listenFd_ = -1;
    uint16_t port_ = 0;
    int fillers_[3] = {-1, -1, -1};
};

} // namespace halden::test
