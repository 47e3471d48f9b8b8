// The few POSIX calls the simulated board model uses, mapped onto the C
// runtime of Windows, so that the model builds for the Windows unit tests
// without changes. Included before each of its sources by the build.
#pragma once
#include <fcntl.h>
#include <io.h>
#include <time.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC 0  // handles are not inherited by default there
#endif
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0  // no symbolic links for the C runtime to follow
#endif

static inline struct tm *gmtime_r(const time_t *time, struct tm *out)
{
    return gmtime_s(out, time) == 0 ? out : NULL;
}

static inline time_t timegm(struct tm *tm)
{
    return _mkgmtime(tm);
}
