// The library's POSIX platform taking one reply from a socket it shares with
// a peer that sends anything: the input is the request's length (first byte)
// and then the bytes the peer sends before it closes. Against the protocol as
// stated here: the request succeeds exactly when the reply starts with a
// length equal to the request's and that many bytes follow, and then the
// buffer holds them; otherwise it fails, promptly (the peer has closed, so
// there is nothing to wait out) and without touching the buffer.
extern "C" {
#include "posix_exchange.h"
}

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void wrong(const char *what)
{
    std::fprintf(stderr, "reply decoding: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 60000)
        return 0;
    const uint32_t length = data[0] % 64 + 1;
    const uint8_t *stream = data + 1;
    const size_t streamSize = size - 1;

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        std::abort();
    const int buffer = 256 * 1024;
    setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (streamSize > 0 && send(pair[1], stream, streamSize, MSG_NOSIGNAL) != ssize_t(streamSize))
        std::abort();
    shutdown(pair[1], SHUT_WR);

    std::vector<uint8_t> request(length, 0xA5);
    const std::vector<uint8_t> before = request;
    int timedOut = 0;
    const int ok = orvlExchange(pair[0], 0xF1F82418u, request.data(), length, 5, &timedOut);
    close(pair[0]);
    close(pair[1]);

    uint32_t announced = 0;
    if (streamSize >= 4)
        std::memcpy(&announced, stream, 4);
    const bool whole = streamSize >= 4 && announced == length && streamSize - 4 >= length;
    if (ok != (whole ? 1 : 0))
        wrong(whole ? "a reply of the request's length was refused" : "a reply that is not the request's was taken");
    if (whole && std::memcmp(request.data(), stream + 4, length) != 0)
        wrong("the buffer does not hold the reply");
    if (!whole && request != before)
        wrong("a refused reply changed the buffer");
    if (timedOut)
        wrong("a closed peer was taken for a slow one");
    return 0;
}
