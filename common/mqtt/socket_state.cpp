#include "socket_state.h"

#ifdef _WIN32
#include <winsock2.h>
#else
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

void socketShutdown(int fd)
{
    if (fd >= 0)
        shutdown(static_cast<SocketHandle>(fd), kShutBoth);
}

} // namespace QMQTT::detail
