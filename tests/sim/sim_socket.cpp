#include "sim_socket.h"

extern "C" {
#include "kmui_framing.h"
}

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace halden::test {

namespace {
constexpr int kReplyTimeoutMs = 10000;
}

SimSocket::SimSocket(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return;
    std::strcpy(addr.sun_path, path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SimSocket::~SimSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool SimSocket::sendRaw(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool SimSocket::readAll(void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, kReplyTimeoutMs) <= 0)
            return false;
        ssize_t n = ::recv(fd_, p, size, 0);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool SimSocket::request(uint32_t code, std::vector<uint8_t> &buffer)
{
    if (fd_ < 0)
        return false;
    unsigned char header[KMUI_REQUEST_HEADER_SIZE];
    kmuiPutRequestHeader(header, code, uint32_t(buffer.size()));
    if (!sendRaw(header, sizeof header) || !sendRaw(buffer.data(), buffer.size()))
        return false;
    return readReply(buffer);
}

bool SimSocket::readReply(std::vector<uint8_t> &buffer)
{
    unsigned char header[KMUI_REPLY_HEADER_SIZE];
    if (fd_ < 0 || !readAll(header, sizeof header))
        return false;
    const uint32_t replyLength = kmuiGetU32(header);
    if (replyLength > (1u << 20))
        return false;
    buffer.resize(replyLength);
    return readAll(buffer.data(), replyLength);
}

bool SimSocket::closedByPeer()
{
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, kReplyTimeoutMs) <= 0)
        return false;
    char c;
    return ::recv(fd_, &c, 1, 0) <= 0;
}

} // namespace halden::test
