#pragma once
// A pseudo-terminal pair standing in for a serial device: the program under
// test opens the slave by its path, the test reads what it wrote from the master.
#include <cstddef>
#include <string>

namespace halden::test {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string &slavePath() const { return slavePath_; }

    // Reads until `count` bytes arrived or `timeoutMs` passed without all of
    // them; returns what arrived.
    std::string read(std::size_t count, int timeoutMs);
    // Whatever arrives within `timeoutMs` (used to prove that nothing more came).
    std::string drain(int timeoutMs);
    bool write(const std::string &bytes);

private:
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
};

} // namespace halden::test
