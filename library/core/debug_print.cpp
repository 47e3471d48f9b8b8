#include "debug_print.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace orvel {

void debugPrint(const char *format, ...)
{
    char buffer[kDebugBufferSize];
    va_list args;
    va_start(args, format);
    // Cut, never overrun; the explicit end also covers C runtimes whose
    // vsnprintf leaves a full buffer unterminated.
    if (std::vsnprintf(buffer, sizeof buffer, format, args) < 0)
        buffer[0] = '\0';
    buffer[sizeof buffer - 1] = '\0';
    va_end(args);
    orvlPlatform()->debugOutput(buffer);
}

} // namespace orvel
