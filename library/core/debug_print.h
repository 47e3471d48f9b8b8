#pragma once
// printf-style diagnostics to the debugger, the library's only diagnostics.

namespace orvel {

constexpr int kDebugBufferSize = 4096;

// Longer output is cut to what the buffer holds.
void debugPrint(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace orvel
