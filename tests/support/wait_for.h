#pragma once
// Polls a condition, sleeping the calling thread between looks, until it
// holds or timeoutMs has passed; true when it holds. (A Qt test whose own
// objects must make progress meanwhile spins its event loop instead.)
#include <chrono>
#include <functional>
#include <thread>

namespace halden::test {

inline bool waitFor(const std::function<bool()> &done, int timeoutMs, int stepMs = 50)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
    }
    return done();
}

} // namespace halden::test
