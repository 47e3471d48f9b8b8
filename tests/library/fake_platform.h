#pragma once
// The library's platform table for unit tests: an in-process simulated board
// answers the driver requests, and every request, pause, open, close, service
// step and debug line is recorded for the test to inspect.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kmui_board.h"

namespace orvel::test {

// One driver request as the library sent it and as it came back.
struct Request {
    uint32_t controlCode = 0;
    std::vector<uint8_t> sent;
    std::vector<uint8_t> returned;

    // Firmware call registers (bytes 2..17) of the sent and returned block.
    uint32_t sentReg(int index) const;      // 0 EAX, 1 EBX, 2 ECX, 3 EDX
    uint32_t returnedReg(int index) const;
    bool isFirmwareCall() const;
    uint32_t function() const { return sentReg(1) & 0xFFFF0000u; }  // of a firmware call
};

class FakePlatform {
public:
    static constexpr intptr_t kHandle = 0x4B4D;

    // The instance the library's table talks to.
    static FakePlatform &instance();

    // A fresh board and empty records; knobs back to "everything works".
    void reset(const kmui::BoardConfig &config = {});
    kmui::Board &board() { return *board_; }

    // Knobs.
    bool exclusiveOpenWorks = true;
    bool installWorks = true;
    bool sharedOpenWorks = true;
    bool wow64 = false;
    bool stopWorks = true;
    // When it returns true, the request does not reach the board and comes
    // back as sent (no ready, no done, no signature).
    std::function<bool(const Request &)> swallow;

    // Records.
    struct Open {
        std::string device;
        int shared;
    };
    std::vector<Open> opens;
    std::vector<intptr_t> closes;
    std::vector<std::string> installs;  // service names
    std::vector<std::string> removals;  // service names
    std::vector<Request> requests;
    std::vector<uint32_t> pauses;
    std::vector<std::string> debugLines;
    int wow64Questions = 0;

    // Firmware calls of one function (ready, start, done queries, ...).
    size_t countCalls(uint32_t function) const;
    size_t physicalReads() const;

    // Platform entry points.
    intptr_t openDevice(const char *name, int shared);
    void closeDevice(intptr_t device);
    int ioControl(intptr_t device, uint32_t code, void *buffer, uint32_t length);

private:
    std::unique_ptr<kmui::Board> board_;
};

constexpr uint32_t kReadyQuery = 0x00010000;
constexpr uint32_t kStart = 0x00020000;
constexpr uint32_t kDoneQuery = 0x00030000;

} // namespace orvel::test
