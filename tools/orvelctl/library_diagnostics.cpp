#include "library_diagnostics.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define ORVELCTL_SANITIZER_FD(fd) __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(fd)))
#else
#define ORVELCTL_SANITIZER_FD(fd) ((void)(fd))
#endif

namespace orvelctl {

LibraryDiagnostics::LibraryDiagnostics(bool hide)
{
    if (!hide)
        return;
    std::fflush(stderr);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    savedStderr_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (devNull < 0 || savedStderr_ < 0 || ::dup2(devNull, STDERR_FILENO) < 0) {
        if (savedStderr_ >= 0)
            ::close(savedStderr_);
        savedStderr_ = -1;
    } else {
        ORVELCTL_SANITIZER_FD(savedStderr_);
    }
    if (devNull >= 0)
        ::close(devNull);
}

LibraryDiagnostics::~LibraryDiagnostics()
{
    if (savedStderr_ < 0)
        return;
    std::fflush(stderr);
    ::dup2(savedStderr_, STDERR_FILENO);
    ORVELCTL_SANITIZER_FD(STDERR_FILENO);
    ::close(savedStderr_);
}

} // namespace orvelctl
