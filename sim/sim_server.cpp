#include "sim_server.h"

#include "request_stream.h"

extern "C" {
#include "kmui_endpoint.h"
#include "private_folder.h"
}

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <chrono>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kmui {

namespace {

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int) { stopRequested = 1; }

std::string errnoText() { return std::strerror(errno); }

} // namespace

SimServer::SimServer(Board &board, std::string runtimeDir, int runtimeFolder)
    : board_(board), runtimeDir_(std::move(runtimeDir)), folder_(runtimeFolder)
{
}

SimServer::~SimServer()
{
    cleanUp();
    if (folder_ >= 0)
        ::close(folder_);
}

bool SimServer::start(std::string &error)
{
    // Stop signals are caught from before the pid file exists, so whoever
    // reads it and signals at once still gets a clean exit; they stay blocked
    // except while waiting in ppoll, so none slips in between the flag test
    // and the wait.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask_);
    sigdelset(&waitMask_, SIGTERM);
    sigdelset(&waitMask_, SIGINT);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (::faccessat(folder_, ".", W_OK | X_OK, 0) != 0) {
        error = "cannot use the runtime folder " + runtimeDir_ + ": " + errnoText();
        return false;
    }
    for (const char *const *name = kmuiServedDeviceNames; *name; ++name)
        if (!listenOn(*name, error))
            return false;
    return writePidFile(error);
}

bool SimServer::listenOn(const std::string &deviceName, std::string &error)
{
    char path[PATH_MAX];
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (!kmuiEndpointPath(runtimeDir_.c_str(), deviceName.c_str(), path, sizeof path)
        || std::strlen(path) >= sizeof addr.sun_path) {
        error = "the runtime folder path is too long for a socket: " + runtimeDir_;
        return false;
    }
    std::strcpy(addr.sun_path, path);

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a socket: " + errnoText();
        return false;
    }
    auto fail = [&](const std::string &why) {
        ::close(fd);
        error = why;
        return false;
    };
    auto *sa = reinterpret_cast<sockaddr *>(&addr);
    if (::bind(fd, sa, sizeof addr) != 0) {
        if (errno != EADDRINUSE)
            return fail("cannot listen on " + std::string(path) + ": " + errnoText());
        // Either another board serves here, or a killed one left its socket.
        struct stat st;
        if (::lstat(path, &st) != 0 || !S_ISSOCK(st.st_mode))
            return fail(std::string(path) + " exists and is not a socket");
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool alive = probe >= 0 && ::connect(probe, sa, sizeof addr) == 0;
        if (probe >= 0)
            ::close(probe);
        if (alive)
            return fail("another kmui-sim already serves " + std::string(path));
        ::unlink(path);
        if (::bind(fd, sa, sizeof addr) != 0)
            return fail("cannot listen on " + std::string(path) + ": " + errnoText());
    }
    if (::listen(fd, 64) != 0) {
        ::unlink(path);
        return fail("cannot listen on " + std::string(path) + ": " + errnoText());
    }
    listeners_.push_back(fd);
    socketPaths_.push_back(path);
    return true;
}

bool SimServer::writePidFile(std::string &error)
{
    // Written whole under a temporary name, so a reader never sees half a pid.
    const std::string text = std::to_string(::getpid()) + "\n";
    if (!privateFolderWriteFile(folder_, KMUI_PID_FILE_NAME, text.data(), text.size(), 0644)) {
        error = "cannot write the pid file " + runtimeDir_ + "/" KMUI_PID_FILE_NAME ": " + errnoText();
        return false;
    }
    pidWritten_ = true;
    return true;
}

int SimServer::run()
{
    std::vector<pollfd> fds;
    // Out of descriptors, a pending connection cannot be taken and keeps the
    // listener readable; pause listening briefly instead of spinning.
    bool acceptPaused = false;
    const timespec pause{0, 100 * 1000 * 1000};
    // A library talks to the board in quick request/reply rounds (thousands
    // for one firmware-table scan). Waking from a blocking poll on another
    // core costs more than the whole request, so while requests come close
    // together the board looks for the next without sleeping, for a short
    // while. Only then: on the SMBus path the next request is a 10 ms pause
    // away, and looking would only burn the look-ahead's CPU each time.
    const timespec dontWait{0, 0};
    const std::chrono::microseconds keepLooking(200);
    auto lookUntil = std::chrono::steady_clock::time_point::min();
    auto lastRequest = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while (!stopRequested) {
        fds.clear();
        for (int fd : listeners_)
            fds.push_back({fd, static_cast<short>(acceptPaused ? 0 : POLLIN), 0});
        for (const Client &c : clients_) {
            // A client that does not take its replies is not read from until it does.
            short events = c.out.empty() ? POLLIN : POLLOUT;
            fds.push_back({c.fd, events, 0});
        }
        const bool looking = !acceptPaused && std::chrono::steady_clock::now() < lookUntil;
        int n = ::ppoll(fds.data(), fds.size(), acceptPaused ? &pause : looking ? &dontWait : nullptr, &waitMask_);
        acceptPaused = false;
        if (n == 0) {
            // Sharing a core with the caller, let it run.
            sched_yield();
            continue;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "kmui-sim: poll failed: %s\n", errnoText().c_str());
            return 1;
        }
        for (size_t i = 0; i < listeners_.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            int fd;
            while ((fd = ::accept4(listeners_[i], nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0)
                clients_.push_back(Client{fd, ++lastId_, {}, {}});
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptPaused = true;
        }
        // Clients accepted just now have no pollfd entry yet; they come next round.
        const size_t polled = fds.size() - listeners_.size();
        for (size_t i = 0; i < polled; ++i) {
            Client &c = clients_[i];
            const short revents = fds[listeners_.size() + i].revents;
            if (revents & POLLOUT) {
                if (!flush(c))
                    continue;
            } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
                readFrom(c);
                const auto now = std::chrono::steady_clock::now();
                if (now - lastRequest <= keepLooking)
                    lookUntil = now + keepLooking;
                lastRequest = now;
            }
        }
        for (size_t i = clients_.size(); i-- > 0;)
            if (clients_[i].fd < 0)
                clients_.erase(clients_.begin() + static_cast<long>(i));
    }
    return 0;
}

void SimServer::readFrom(Client &client)
{
    char chunk[16384];
    ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        closeClient(client);
        return;
    }
    client.in.append(chunk, static_cast<size_t>(n));
    serveRequests(client);
    if (client.fd >= 0)
        flush(client);
}

void SimServer::serveRequests(Client &client)
{
    if (!kmui::serveRequests(board_, client.id, client.in, client.out))
        closeClient(client);
}

bool SimServer::flush(Client &client)
{
    while (!client.out.empty()) {
        ssize_t n = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            closeClient(client);
            return false;
        }
        client.out.erase(0, static_cast<size_t>(n));
    }
    // Requests that arrived while replies were pending are served now.
    if (!client.in.empty()) {
        serveRequests(client);
        if (client.fd >= 0 && !client.out.empty())
            return flush(client);
    }
    return client.fd >= 0;
}

void SimServer::closeClient(Client &client)
{
    ::close(client.fd);
    client.fd = -1;
    // A process that dies mid-transaction must not leave the bus reserved.
    board_.connectionClosed(client.id);
}

void SimServer::cleanUp()
{
    for (Client &c : clients_)
        if (c.fd >= 0)
            closeClient(c);
    clients_.clear();
    for (int fd : listeners_)
        ::close(fd);
    listeners_.clear();
    for (const std::string &path : socketPaths_)
        ::unlink(path.c_str());
    socketPaths_.clear();
    if (pidWritten_)
        ::unlinkat(folder_, KMUI_PID_FILE_NAME, 0);
    pidWritten_ = false;
}

} // namespace kmui
