#pragma once
// The firmware's system-management call: the service check and the three
// SMBus phases (ready query, start, done query).
//
// Like a real firmware it runs one SMBus transaction at a time. A ready query
// that answers ready reserves the bus for the connection that asked; until
// that connection's done query has reported its transaction done (or the
// connection closes), ready queries from other connections answer not ready
// and their starts and done queries leave the holder's transaction alone.
//
// Ready and done are counted per connection and per wait: the ready bit is
// first set on the readyAfter-th ready query since that connection's last
// start (not counting queries turned away because another connection held
// the bus) and stays set until its next start; the done bit on the
// doneAfter-th done query since that start. 0 means never. A start sent while
// the firmware has not reported ready to that connection is ignored, as a
// busy firmware would. A transaction takes effect on the bus when it starts;
// the done query only reports it (and the byte read).
#include "connection_id.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace kmui {

struct CallRegisters {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
};

class SmbusDevice;

class FirmwareCall {
public:
    static constexpr uint32_t kServiceSignature = 0x70479315u;
    static constexpr uint32_t kReadyQuery = 0x00010000u;
    static constexpr uint32_t kStart = 0x00020000u;
    static constexpr uint32_t kDoneQuery = 0x00030000u;

    struct Settings {
        int readyAfter = 1;
        int doneAfter = 1;
        bool serviceCheckFails = false;
    };
    // findDevice: the device at an SMBus address, or null when none answers.
    // afterWrite: told about every write that reached a device.
    using WriteObserver = std::function<void(uint8_t address, uint8_t reg, uint8_t value)>;
    FirmwareCall(const Settings &settings, std::function<SmbusDevice *(uint8_t)> findDevice,
                 WriteObserver afterWrite);

    // Registers in, registers as the firmware leaves them out.
    void call(CallRegisters &regs, ConnectionId connection = kLocalConnection);
    // Frees the bus if the connection held it and forgets its transaction.
    void connectionClosed(ConnectionId connection);

    // The connection the bus is reserved for, if any.
    std::optional<ConnectionId> busHolder() const { return holder_; }

private:
    // One connection's view of its current transaction.
    struct Transaction {
        int readyQueries = 0;
        bool ready = false;    // ready reported, start not yet sent
        bool started = false;  // started, done not yet reported
        int doneQueries = 0;
        uint8_t result = 0xFF;
    };

    bool heldByOther(ConnectionId connection) const { return holder_ && *holder_ != connection; }
    void readyQuery(Transaction &t, ConnectionId connection, CallRegisters &regs);
    void doneQuery(Transaction &t, ConnectionId connection, CallRegisters &regs);
    void start(Transaction &t, uint8_t address, bool read, uint8_t reg, uint8_t data);

    Settings settings_;
    std::function<SmbusDevice *(uint8_t)> findDevice_;
    WriteObserver afterWrite_;
    std::map<ConnectionId, Transaction> transactions_;
    std::optional<ConnectionId> holder_;
};

} // namespace kmui
