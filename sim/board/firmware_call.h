#pragma once
// The firmware's system-management call: the service check and the three
// SMBus phases (ready query, start, done query).
//
// Ready and done are counted per wait: the ready bit is first set on the
// readyAfter-th ready query since the last start (and stays set until the
// next start); the done bit on the doneAfter-th done query since that start.
// 0 means never. A start sent while the firmware has not reported ready is
// ignored, as a busy firmware would. A transaction takes effect on the bus
// when it starts; the done query only reports it (and the byte read).
#include <cstdint>
#include <functional>

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
    FirmwareCall(const Settings &settings, std::function<SmbusDevice *(uint8_t)> findDevice,
                 std::function<void()> afterWrite);

    // Registers in, registers as the firmware leaves them out.
    void call(CallRegisters &regs);

private:
    void start(uint8_t address, bool read, uint8_t reg, uint8_t data);

    Settings settings_;
    std::function<SmbusDevice *(uint8_t)> findDevice_;
    std::function<void()> afterWrite_;
    int readyQueries_ = 0;
    bool ready_ = false;
    int doneQueries_ = 0;
    uint8_t result_ = 0xFF;
};

} // namespace kmui
