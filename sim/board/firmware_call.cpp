#include "firmware_call.h"

#include "smbus_device.h"

namespace kmui {

FirmwareCall::FirmwareCall(const Settings &settings, std::function<SmbusDevice *(uint8_t)> findDevice,
                           std::function<void()> afterWrite)
    : settings_(settings), findDevice_(std::move(findDevice)), afterWrite_(std::move(afterWrite))
{
}

void FirmwareCall::call(CallRegisters &regs)
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
        if (!ready_) {
            ++readyQueries_;
            ready_ = settings_.readyAfter > 0 && readyQueries_ >= settings_.readyAfter;
        }
        regs.eax = ready_ ? 1u : 0u;
        return;
    case kStart: {
        const uint32_t direction = (regs.ebx >> 8) & 0xFF;
        if (direction > 1)
            return;
        start(static_cast<uint8_t>(regs.ebx & 0xFF), direction == 1,
              static_cast<uint8_t>((regs.ecx >> 8) & 0xFF), static_cast<uint8_t>(regs.ecx & 0xFF));
        return;
    }
    case kDoneQuery: {
        ++doneQueries_;
        const bool done = settings_.doneAfter > 0 && doneQueries_ >= settings_.doneAfter;
        regs.eax = done ? 1u : 0u;
        regs.ebx = done ? result_ : 0u;
        return;
    }
    default:
        return; // unknown function: registers come back as sent
    }
}

void FirmwareCall::start(uint8_t address, bool read, uint8_t reg, uint8_t data)
{
    if (!ready_)
        return;
    ready_ = false;
    readyQueries_ = 0;
    doneQueries_ = 0;
    SmbusDevice *device = findDevice_(address);
    // No device at the address: the transaction still completes, a read
    // gives 0xFF (the idle bus level) and a write goes nowhere.
    if (read) {
        result_ = device ? device->busRead(reg) : 0xFF;
    } else {
        result_ = 0xFF;
        if (device) {
            device->busWrite(reg, data);
            afterWrite_();
        }
    }
}

} // namespace kmui
