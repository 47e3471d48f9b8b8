#include "mqtt_test_util.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace halden::test {

Lateness measureLateness(int durationMs)
{
    Lateness result;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QElapsedTimer clock;
    qint64 last = 0;
    double total = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double late = (now - last) / 1e6 - 10.0;
        last = now;
        if (late > result.maxMs)
            result.maxMs = late;
        total += late > 0 ? late : 0;
        ++result.ticks;
    });
    clock.start();
    timer.start();
    spin(durationMs);
    timer.stop();
    result.meanMs = result.ticks ? total / result.ticks : 0;
    return result;
}

Lateness measureLatenessWithin(double boundMs, int windows, int windowMs, const char *label)
{
    Lateness late;
    for (int w = 1; w <= windows; ++w) {
        late = measureLateness(windowMs);
        std::printf("[ figures  ] %s: 10 ms timer lateness over %d ms (window %d): max %.2f ms, "
                    "mean %.2f ms, %d ticks\n",
                    label, windowMs, w, late.maxMs, late.meanMs, late.ticks);
        if (late.maxMs < boundMs)
            break;
    }
    return late;
}

ConnectPacket parseConnect(const std::string &b)
{
    ConnectPacket p;
    auto u8 = [&](size_t i) { return i < b.size() ? static_cast<unsigned char>(b[i]) : 0u; };
    if (b.size() < 2 || u8(0) != 0x10)
        return p;
    size_t i = 1;
    size_t remaining = 0;
    for (int shift = 0; shift <= 21; shift += 7) {
        if (i >= b.size())
            return p;
        remaining |= (u8(i) & 0x7fu) << shift;
        if (!(u8(i++) & 0x80))
            break;
    }
    const size_t end = i + remaining;
    if (b.size() < end || remaining < 2)
        return p;
    const size_t nameLen = (u8(i) << 8) | u8(i + 1);
    if (i + 2 + nameLen + 6 > end)
        return p;
    p.protocolName = b.substr(i + 2, nameLen);
    i += 2 + nameLen;
    p.level = u8(i++);
    p.flags = u8(i++);
    p.keepAlive = (u8(i) << 8) | u8(i + 1);
    i += 2;
    const size_t idLen = (u8(i) << 8) | u8(i + 1);
    if (i + 2 + idLen > end)
        return p;
    p.clientId = b.substr(i + 2, idLen);
    p.valid = true;
    return p;
}

namespace {

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

SilentListener::SilentListener(uint16_t port)
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a = loopback(port);
    socklen_t len = sizeof a;
    const int reuse = 1;
    if (listenFd_ >= 0 && port != 0)
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || getsockname(listenFd_, reinterpret_cast<sockaddr *>(&a), &len) != 0
        || listen(listenFd_, 0) != 0) {
        if (listenFd_ >= 0)
            close(listenFd_);
        listenFd_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
    // A backlog of 0 still queues one connection; a few fillers make sure the
    // queue is full whatever the kernel rounds it to.
    for (int &f : fillers_) {
        f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr_in to = loopback(port_);
        connect(f, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }
    spin(50);
}

SilentListener::~SilentListener()
{
    for (int f : fillers_)
        if (f >= 0)
            close(f);
    if (listenFd_ >= 0)
        close(listenFd_);
}

void SilentListener::release()
{
    for (;;) {
        const int c = accept(listenFd_, nullptr, nullptr);
        if (c < 0)
            break;
        close(c);
    }
    for (int &f : fillers_) {
        if (f >= 0)
            close(f);
        f = -1;
    }
}

int SilentListener::acceptOne(int timeoutMs)
{
    int fd = -1;
    waitUntil([&] {
        fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        return fd >= 0;
    }, timeoutMs);
    return fd;
}

std::string SilentListener::readSome(int fd, size_t minBytes, int timeoutMs)
{
    std::string out;
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    waitUntil([&] {
        char buf[512];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
        return out.size() >= minBytes;
    }, timeoutMs);
    return out;
}

} // namespace halden::test
