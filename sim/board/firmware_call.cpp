#include "firmware_call.h"

#include "smbus_device.h"

namespace kmui {

FirmwareCall::FirmwareCall(const Settings &settings, std::function<SmbusDevice *(uint8_t)> findDevice,
                           WriteObserver afterWrite)
    : settings_(settings), findDevice_(std::move(findDevice)), afterWrite_(std::move(afterWrite))
{
}

void FirmwareCall::call(CallRegisters &regs, ConnectionId connection)
{
    const uint32_t function = regs.ebx & 0xFFFF0000u;
    if (regs.eax == 0 && regs.ebx == 0 && regs.ecx == 0 && regs.edx == 0) {
        if (!settings_.serviceCheckFails) {
            regs.ebx = kServiceSignature;
            regs.ecx = 1;
        }
        return;
    }
    switch (function) {
    case kReadyQuery:
        readyQuery(transactions_[connection], connection, regs);
        return;
    case kStart: {
        const uint32_t direction = (regs.ebx >> 8) & 0xFF;
        if (direction > 1)
            return;
        start(transactions_[connection], static_cast<uint8_t>(regs.ebx & 0xFF), direction == 1,
              static_cast<uint8_t>((regs.ecx >> 8) & 0xFF), static_cast<uint8_t>(regs.ecx & 0xFF));
        return;
    }
    case kDoneQuery:
        doneQuery(transactions_[connection], connection, regs);
        return;
    default:
        return; // unknown function: registers come back as sent
    }
}

void FirmwareCall::connectionClosed(ConnectionId connection)
{
    if (holder_ == connection)
        holder_.reset();
    transactions_.erase(connection);
}

void FirmwareCall::readyQuery(Transaction &t, ConnectionId connection, CallRegisters &regs)
{
    // Busy with someone else's transaction: the asker keeps waiting, and the
    // latency it was configured with starts once the bus is free for it.
    if (heldByOther(connection)) {
        regs.eax = 0;
        return;
    }
    if (!t.ready) {
        ++t.readyQueries;
        t.ready = settings_.readyAfter > 0 && t.readyQueries >= settings_.readyAfter;
    }
    if (t.ready) {
        // A holder asking again has given up on its unfinished transaction.
        t.started = false;
        holder_ = connection;
    }
    regs.eax = t.ready ? 1u : 0u;
}

void FirmwareCall::doneQuery(Transaction &t, ConnectionId connection, CallRegisters &regs)
{
    if (heldByOther(connection)) {
        regs.eax = 0;
        regs.ebx = 0;
        return;
    }
    ++t.doneQueries;
    const bool done = settings_.doneAfter > 0 && t.doneQueries >= settings_.doneAfter;
    regs.eax = done ? 1u : 0u;
    regs.ebx = done ? t.result : 0u;
    if (done && t.started) {
        t.started = false;
        holder_.reset();
    }
}

void FirmwareCall::start(Transaction &t, uint8_t address, bool read, uint8_t reg, uint8_t data)
{
    // Ready was reported to this connection only while it holds the bus.
    if (!t.ready)
        return;
    t.ready = false;
    t.started = true;
    t.readyQueries = 0;
    t.doneQueries = 0;
    SmbusDevice *device = findDevice_(address);
    // No device at the address: the transaction still completes, a read
    // gives 0xFF (the idle bus level) and a write goes nowhere.
    if (read) {
        t.result = device ? device->busRead(reg) : 0xFF;
    } else {
        t.result = 0xFF;
        if (device) {
            device->busWrite(reg, data);
            afterWrite_(address, reg, data);
        }
    }
}

} // namespace kmui
