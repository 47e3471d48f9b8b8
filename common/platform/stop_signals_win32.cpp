#include "stop_signals.h"

#include <QSocketNotifier>

StopSignals::StopSignals(std::function<void()> onStop) : onStop_(std::move(onStop))
{
}

StopSignals::~StopSignals() = default;
