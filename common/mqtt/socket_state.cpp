#include "socket_state.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace QMQTT::detail {

#ifdef _WIN32
using SocketHandle = SOCKET;
const int kShutBoth = SD_BOTH;
using AddressLength = int;
#else
using SocketHandle = int;
const int kShutBoth = SHUT_RDWR;
using AddressLength = socklen_t;
#endif

bool socketPeerConnected(int fd)
{
    if (fd < 0)
        return false;
    sockaddr_storage peer{};
    AddressLength len = sizeof peer;
    return getpeername(static_cast<SocketHandle>(fd), reinterpret_cast<sockaddr *>(&peer), &len) == 0;
}

bool socketHasInput(int fd)
{
    if (fd < 0)
        return false;
#ifdef _WIN32
    u_long waiting = 0;
    return ioctlsocket(static_cast<SocketHandle>(fd), FIONREAD, &waiting) == 0 && waiting > 0;
#else
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
#endif
}

void socketShutdown(int fd)
{
    if (fd >= 0)
        shutdown(static_cast<SocketHandle>(fd), kShutBoth);
}

} // namespace QMQTT::detail
