#pragma once
// The socket side of kmui-sim: one listening endpoint per device name, one
// connection per open device handle, all served by a single poll loop.
#include "kmui_board.h"

#include <csignal>
#include <string>
#include <vector>

namespace kmui {

class SimServer {
public:
    // Serves in runtimeDir, whose checked descriptor it takes over.
    SimServer(Board &board, std::string runtimeDir, int runtimeFolder);
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    // Listens on every endpoint, then writes the pid file. On failure
    // returns false with a one-line reason in error.
    bool start(std::string &error);
    // Serves until SIGTERM or SIGINT arrives (also one that came during
    // start); returns 0, or 1 on a poll failure.
    int run();

private:
    struct Client {
        int fd = -1;
        ConnectionId id = kLocalConnection;  // fds are reused; ids are not
        std::string in;
        std::string out;
    };
    bool listenOn(const std::string &deviceName, std::string &error);
    bool writePidFile(std::string &error);
    void readFrom(Client &client);
    bool flush(Client &client);
    void serveRequests(Client &client);
    void closeClient(Client &client);
    void cleanUp();

    Board &board_;
    std::string runtimeDir_;
    int folder_ = -1;
    std::vector<int> listeners_;
    std::vector<std::string> socketPaths_;
    bool pidWritten_ = false;
    std::vector<Client> clients_;
    ConnectionId lastId_ = kLocalConnection;
    sigset_t waitMask_{};
};

} // namespace kmui
