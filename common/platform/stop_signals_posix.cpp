#include "stop_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT};
int g_pipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!write(g_pipe[1], &byte, 1); // a full pipe already holds a wake-up
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop))
{
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        char bytes[16];
        while (read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        onStop_();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals()
{
    // From here on a signal ends the process as it would without us.
    for (int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
}
