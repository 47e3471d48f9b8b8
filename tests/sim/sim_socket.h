#pragma once
// A client connection to a kmui-sim endpoint, speaking the framing of
// kmui_framing.h.
#include <cstdint>
#include <string>
#include <vector>

namespace halden::test {

class SimSocket {
public:
    explicit SimSocket(const std::string &path);
    ~SimSocket();
    SimSocket(const SimSocket &) = delete;
    SimSocket &operator=(const SimSocket &) = delete;

    bool connected() const { return fd_ >= 0; }
    // Sends the buffer, replaces it with the reply; false when the link failed.
    bool request(uint32_t code, std::vector<uint8_t> &buffer);
    bool sendRaw(const void *data, size_t size);
    // Reads one reply frame into buffer.
    bool readReply(std::vector<uint8_t> &buffer);
    // True when the board closed the connection (read gives end of file).
    bool closedByPeer();

private:
    bool readAll(void *data, size_t size);
    int fd_ = -1;
};

} // namespace halden::test
