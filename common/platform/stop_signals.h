#pragma once
// A program's ending by a signal (SIGTERM from a kill or a service manager,
// SIGHUP when the terminal or the session goes, SIGINT) taken into the event
// loop, so that it ends through the same path as its own "Quit" and saves
// what Quit saves. The handler only writes a byte to a pipe; the work is done
// on the GUI thread once the event loop reads it. Nothing on Windows, whose
// programs get no such signals.
#include <functional>
#include <memory>

class QSocketNotifier;

class StopSignals {
public:
    // onStop runs on the calling thread's event loop, once per signal.
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    std::function<void()> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
