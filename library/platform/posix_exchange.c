/* The bytes of one request and its reply over a connection to the board,
 * within one deadline for the whole request. */
#define _GNU_SOURCE
#include "posix_exchange.h"

#include <errno.h>
#include <poll.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "kmui_framing.h"

static const long kLookForReplyNs = 200 * 1000L;

struct timespec orvlMonotonicNow(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

/* Waits until fd is ready for events or the deadline passes; 0 then, with
 * errno ETIMEDOUT. Every wait of one request counts against the same deadline,
 * so a peer that trickles its answer a byte at a time cannot stretch it. */
static int readyBy(int fd, short events, const struct timespec *deadline)
{
    for (;;) {
        const struct timespec now = orvlMonotonicNow();
        long long leftMs = (long long)(deadline->tv_sec - now.tv_sec) * 1000 + (deadline->tv_nsec - now.tv_nsec) / 1000000;
        if (leftMs < 0)
            leftMs = 0;
        struct pollfd ready = {fd, events, 0};
        const int n = poll(&ready, 1, (int)leftMs);
        if (n > 0)
            return 1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ETIMEDOUT;
        return 0;
    }
}

/* All of data sent (sending) or received, each wait against the deadline. */
static int transferAll(int fd, void *data, size_t length, int sending, const struct timespec *deadline)
{
    char *p = data;
    while (length > 0) {
        const ssize_t n = sending ? send(fd, p, length, MSG_NOSIGNAL | MSG_DONTWAIT) : recv(fd, p, length, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!readyBy(fd, sending ? POLLOUT : POLLIN, deadline))
                return 0;
            continue;
        }
        if (n <= 0)
            return 0;
        p += n;
        length -= (size_t)n;
    }
    return 1;
}

static int sendAll(int fd, const void *data, size_t length, const struct timespec *deadline)
{
    return transferAll(fd, (void *)data, length, 1, deadline);
}

static int receiveAll(int fd, void *data, size_t length, const struct timespec *deadline)
{
    return transferAll(fd, data, length, 0, deadline);
}

/* Header and body in one call: the board then wakes once per request, not
 * once for the header and again for the body (the firmware-table scan makes
 * thousands of requests). */
static int sendRequest(int fd, const unsigned char *header, size_t headerLength, const void *body,
                       size_t bodyLength, const struct timespec *deadline)
{
    struct iovec parts[2] = {{(void *)header, headerLength}, {(void *)body, bodyLength}};
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    ssize_t n;
    while ((n = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return 0;
    size_t sent = n < 0 ? 0 : (size_t)n;
    if (sent < headerLength)
        return sendAll(fd, header + sent, headerLength - sent, deadline) && sendAll(fd, body, bodyLength, deadline);
    sent -= headerLength;
    return sendAll(fd, (const char *)body + sent, bodyLength - sent, deadline);
}

/* The board answers within microseconds. Sleeping in recv until then means a
 * wake-up from another core that costs more than the answer itself, so look
 * for the reply without sleeping for a short while first. */
static void awaitReply(int fd)
{
    struct pollfd ready = {fd, POLLIN, 0};
    const struct timespec start = orvlMonotonicNow();
    for (;;) {
        if (poll(&ready, 1, 0) != 0)
            return;
        sched_yield(); /* on the board's core, let the board run */
        const struct timespec now = orvlMonotonicNow();
        if ((now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec) > kLookForReplyNs)
            return;
    }
}

int orvlExchange(int fd, uint32_t controlCode, void *buffer, uint32_t length, int timeoutS, int *timedOut)
{
    unsigned char header[KMUI_REQUEST_HEADER_SIZE];
    unsigned char replyHeader[KMUI_REPLY_HEADER_SIZE];
    kmuiPutRequestHeader(header, controlCode, length);
    struct timespec deadline = orvlMonotonicNow();
    deadline.tv_sec += timeoutS;
    errno = 0;
    int ok = sendRequest(fd, header, sizeof header, buffer, length, &deadline);
    if (ok)
        awaitReply(fd);
    ok = ok && receiveAll(fd, replyHeader, sizeof replyHeader, &deadline);
    if (ok && kmuiGetU32(replyHeader) != length) {
        errno = EPROTO;
        ok = 0;
    }
    /* Into a buffer of our own first: half a reply is not handed back. */
    unsigned char small[256];
    unsigned char *reply = length <= sizeof small ? small : malloc(length);
    ok = ok && reply && receiveAll(fd, reply, length, &deadline);
    if (ok)
        memcpy(buffer, reply, length);
    if (reply != small)
        free(reply);
    *timedOut = !ok && errno == ETIMEDOUT;
    return ok;
}

