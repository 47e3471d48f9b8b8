#ifndef ORVEL_POSIX_EXCHANGE_H
#define ORVEL_POSIX_EXCHANGE_H
/* One driver request over a connected stream socket to kmui-sim, in the
 * framing of kmui_framing.h. Apart from the rest of the POSIX platform so that
 * the reply decoding can be driven (and fuzzed) over any socket. */
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* CLOCK_MONOTONIC now. */
struct timespec orvlMonotonicNow(void);

/* Sends the request and takes the reply into buffer; 1 when it was
 * completed, else 0 with *timedOut set when the deadline (timeoutS for the
 * whole request, however the peer trickles) ran out. The driver hands back the
 * buffer it was given, so a reply of any other length is not the board's: the
 * stream is out of step (or the peer is no board) and the request fails as
 * against a dead board. A reply not taken whole leaves buffer as it was. */
int orvlExchange(int fd, uint32_t controlCode, void *buffer, uint32_t length, int timeoutS, int *timedOut);

#ifdef __cplusplus
}
#endif
#endif
