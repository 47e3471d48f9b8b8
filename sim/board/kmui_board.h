#pragma once
// The simulated board behind the KMUI driver: 64 KiB of firmware memory at
// 0xE0000 with the "$ORV" table, the firmware call (service check and the
// SMBus functions) and the devices on the SMBus (the Orvel controller at
// 0xAE, an EEPROM at 0xA0). Used in-process by the library's fake platform
// and, behind a socket, by the kmui-sim program.
#include "connection_id.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace kmui {

// The two driver control codes and their buffer sizes.
constexpr uint32_t kPhysicalReadCode = 0xF1F82408u;
constexpr size_t kPhysicalReadSize = 1034;
constexpr uint32_t kFirmwareCallCode = 0xF1F82418u;
constexpr size_t kFirmwareCallSize = 18;

struct BoardConfig {
    bool tablePresent = true;
    uint32_t tableAddress = 0xE8A40;  // 16-byte aligned, inside the window
    uint8_t callPort = 0xB2;
    uint8_t callCode = 0xEE;          // not the library's default 0xED, so a working scan shows
    int readyAfter = 1;               // ready bit first set on this query of a wait; 0 = never
    int doneAfter = 1;                // done bit first set on this query of a wait; 0 = never
    bool serviceCheckFails = false;
    uint32_t returnedCount = 7;       // count the physical read reports at offset 6
    bool garbageReplies = false;      // firmware calls other than the service check answer noise
    std::string stateFile;            // register state kept here; empty = memory only
    std::string traceFile;            // one timestamped line per SMBus write; empty = none
    std::function<std::time_t()> now; // the host clock the controller's clock runs from; empty = time()
};

// Where the simulated firmware memory sits; the table fits only below the end.
constexpr uint32_t kFirmwareMemoryBase = 0xE0000u;
constexpr uint32_t kFirmwareMemorySize = 0x10000u;
constexpr uint32_t kFirmwareTableSize = 8;

// SMBus addresses that answer on the board.
constexpr uint8_t kControllerAddress = 0xAE;
constexpr uint8_t kEepromAddress = 0xA0;

class Board {
public:
    explicit Board(const BoardConfig &config);
    // Whether the trace file named in the config is open.
    bool tracing() const;
    ~Board();
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    // Handles one driver request in place, as the driver does with its
    // in/out buffer. Unknown codes and short buffers leave the buffer as it is.
    // The firmware runs one SMBus transaction at a time, so requests say which
    // open device handle they come from; the first form is the single handle
    // of an in-process user.
    void handleRequest(uint32_t controlCode, uint8_t *buffer, size_t length);
    void handleRequest(ConnectionId connection, uint32_t controlCode, uint8_t *buffer, size_t length);
    // The handle is gone: a bus it held is free again.
    void connectionClosed(ConnectionId connection);

    // Direct register access for tests and for the state file; no SMBus timing.
    uint8_t reg(uint8_t address, uint8_t reg) const;
    void setReg(uint8_t address, uint8_t reg, uint8_t value);

    const BoardConfig &config() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kmui
