#include "mqtt_load.h"

#include "bench_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halden::bench {

namespace {

std::string remainingLength(size_t n)
{
    std::string out;
    do {
        uint8_t byte = uint8_t(n % 128);
        n /= 128;
        if (n > 0)
            byte |= 0x80;
        out.push_back(char(byte));
    } while (n > 0);
    return out;
}

std::string lengthPrefixed(const std::string &text)
{
    return std::string{char(text.size() >> 8), char(text.size() & 0xFF)} + text;
}

std::string publishPacket(const std::string &topic, const std::string &payload, bool retain)
{
    const std::string body = lengthPrefixed(topic) + payload;
    return std::string(1, char(retain ? 0x31 : 0x30)) + remainingLength(body.size()) + body;
}

} // namespace

RawPublisher::RawPublisher(uint16_t port)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return;
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // MQTT 3.1.1 CONNECT, clean session, keep-alive 600 s.
    const std::string id = "bench-pub-" + std::to_string(::getpid()) + "-" + std::to_string(fd_);
    const std::string body = lengthPrefixed("MQTT") + std::string{4, 2, 0x02, 0x58} + lengthPrefixed(id);
    char connack[4];
    if (!writeAll(std::string(1, char(0x10)) + remainingLength(body.size()) + body)
        || ::recv(fd_, connack, sizeof connack, MSG_WAITALL) != 4 || connack[0] != 0x20 || connack[3] != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawPublisher::~RawPublisher()
{
    if (fd_ < 0)
        return;
    writeAll(std::string{char(0xE0), 0});  // DISCONNECT
    ::close(fd_);
}

bool RawPublisher::writeAll(const std::string &bytes)
{
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return fd_ >= 0;
}

bool RawPublisher::publish(const std::string &topic, const std::string &payload, bool retain)
{
    return writeAll(publishPacket(topic, payload, retain));
}

bool RawPublisher::publishMany(const std::string &topic, const std::string &payload, long count)
{
    const std::string packet = publishPacket(topic, payload, false);
    const long perBatch = std::max(1L, long((256 * 1024) / packet.size()));
    std::string batch;
    for (long i = 0; i < perBatch; ++i)
        batch += packet;
    for (long sent = 0; sent < count; sent += perBatch) {
        const long n = std::min(perBatch, count - sent);
        if (!writeAll(n == perBatch ? batch : batch.substr(0, size_t(n) * packet.size())))
            return false;
    }
    return true;
}

PlainSubscribers::PlainSubscribers(uint16_t port, const std::string &topic, int count)
{
    mosquitto_lib_init();
    clients_.resize(size_t(count));
    for (Client &c : clients_) {
        c.topic = topic;
        c.handle = mosquitto_new(nullptr, true, &c);
        if (!c.handle)
            continue;
        mosquitto_connect_callback_set(c.handle, [](mosquitto *m, void *self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<Client *>(self)->topic.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(c.handle, [](mosquitto *, void *self, int, int, const int *) {
            static_cast<Client *>(self)->subscribed = true;
        });
        mosquitto_message_callback_set(c.handle, [](mosquitto *, void *self, const mosquitto_message *) {
            Client *client = static_cast<Client *>(self);
            if (client->arrivedMs < 0)
                client->arrivedMs = nowMs();
        });
        if (mosquitto_connect(c.handle, "127.0.0.1", port, 600) != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(c.handle);
            c.handle = nullptr;
        }
    }
}

PlainSubscribers::~PlainSubscribers()
{
    for (Client &c : clients_)
        if (c.handle) {
            mosquitto_disconnect(c.handle);
            mosquitto_destroy(c.handle);
        }
}

void PlainSubscribers::runOnce(int pollMs)
{
    std::vector<pollfd> fds;
    std::vector<Client *> owners;
    for (Client &c : clients_) {
        if (!c.handle || mosquitto_socket(c.handle) < 0)
            continue;
        fds.push_back({mosquitto_socket(c.handle), short(POLLIN | (mosquitto_want_write(c.handle) ? POLLOUT : 0)), 0});
        owners.push_back(&c);
    }
    if (::poll(fds.data(), fds.size(), pollMs) < 0)
        return;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
            mosquitto_loop_read(owners[i]->handle, 1);
        if (fds[i].revents & POLLOUT)
            mosquitto_loop_write(owners[i]->handle, 1);
    }
}

bool PlainSubscribers::waitSubscribed(int timeoutMs)
{
    auto all = [&] {
        for (const Client &c : clients_)
            if (!c.subscribed)
                return false;
        return true;
    };
    const double end = nowMs() + timeoutMs;
    while (!all() && nowMs() < end) {
        runOnce(10);
        for (Client &c : clients_)
            if (c.handle)
                mosquitto_loop_misc(c.handle);
    }
    return all();
}

std::vector<double> PlainSubscribers::waitMessages(int timeoutMs)
{
    for (Client &c : clients_)
        c.arrivedMs = -1;
    auto arrived = [&] {
        std::vector<double> times;
        for (const Client &c : clients_)
            if (c.arrivedMs >= 0)
                times.push_back(c.arrivedMs);
        return times;
    };
    const double end = nowMs() + timeoutMs;
    while (arrived().size() < clients_.size() && nowMs() < end)
        runOnce(10);
    return arrived();
}

pid_t spawnMosquittoSub(uint16_t port, const std::string &topic, long count)
{
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            _exit(127);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        const std::string p = std::to_string(port), c = std::to_string(count);
        ::execlp("mosquitto_sub", "mosquitto_sub", "-h", "127.0.0.1", "-p", p.c_str(), "-t", topic.c_str(), "-q",
                 "1", "-C", c.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

bool childEnded(pid_t pid, int *status)
{
    int s = 0;
    const pid_t r = ::waitpid(pid, &s, WNOHANG);
    if (r == pid && status)
        *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return r == pid;
}

void endChild(pid_t pid)
{
    if (pid <= 0 || childEnded(pid))
        return;
    ::kill(pid, SIGTERM);
    if (!waitUntil([&] { return childEnded(pid); }, 3000, 10)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace halden::bench
