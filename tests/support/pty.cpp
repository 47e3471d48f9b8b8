#include "pty.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace halden::test {

Pty::Pty()
{
    // Not inherited: a program started later must not hold the master open,
    // or closing it here would never hang up the line.
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) {
        close(master_);
        master_ = -1;
        return;
    }
    slavePath_ = name;

    // Keeping one slave descriptor open means the master never sees a hang-up
    // between the program's close and open, and lets us set raw mode before
    // the program opens it.
    slaveKeeper_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper_ >= 0) {
        termios tio {};
        if (tcgetattr(slaveKeeper_, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(slaveKeeper_, TCSANOW, &tio);
        }
    }
    termios mtio {};
    if (tcgetattr(master_, &mtio) == 0) {
        cfmakeraw(&mtio);
        tcsetattr(master_, TCSANOW, &mtio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty()
{
    if (slaveKeeper_ >= 0)
        close(slaveKeeper_);
    if (master_ >= 0)
        close(master_);
}

std::string Pty::read(std::size_t count, int timeoutMs)
{
    std::string out;
    if (master_ < 0)
        return out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd pfd {master_, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf < count - out.size() ? sizeof buf : count - out.size());
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            break;
        else if (n <= 0)
            usleep(5000); // EIO: no slave open right now; wait for the program to open it
    }
    return out;
}

std::string Pty::drain(int timeoutMs)
{
    return read(static_cast<std::size_t>(-1) / 2, timeoutMs);
}

bool Pty::write(const std::string &bytes)
{
    if (master_ < 0)
        return false;
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

} // namespace halden::test
