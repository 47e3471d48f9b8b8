#ifndef ORVEL_POSIX_H
#define ORVEL_POSIX_H
/* Settings of the library's POSIX platform (kmui-sim behind a socket stands in
 * for the KMUI driver there); not part of the Windows library. */
#include "orvel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Whether the library's diagnostic lines go to standard error (1, the start
 * value) or nowhere (0). */
ORVL_EXPORT void orvlSetDebugOutput(int enabled);

/* 0 when the last driver request of the calling thread got no answer: the
 * board is gone or hung, rather than answering with a failure. */
ORVL_EXPORT int orvlDriverAnswered(void);

/* Why the board's runtime folder or its socket was last refused (a folder
 * that is not the caller's own and private, a socket served by another user),
 * as one line; "" while nothing was. Such a board is never used: the exports
 * answer as with no board. */
ORVL_EXPORT const char *orvlRuntimeProblem(void);

#ifdef __cplusplus
}
#endif
#endif
