#pragma once
// The Orvel power-management controller as it answers at SMBus 0xAE.
//
//   0x00-0x0F version text (read only), 0x18 feature bitmap (read only),
//   0x19 control (bit 0 power resume, bit 3 clock hold),
//   0x20-0x25 clock: seconds, minutes, hours, day 1-31, month 1-12,
//             year - 2000; binary, UTC, running from the host clock plus an
//             offset that writes move; frozen for reading while bit 3 is set,
//   0x30/0x40/0x50/0x60 schedule blocks (enable flags, day mask, on hour,
//             on minute, off hour, off minute),
//   0x80 miscellaneous control, 0x81 tick (write only, reads 0x00).
// Every other register reads 0x00 and drops writes.
#include "smbus_device.h"

#include <array>
#include <ctime>
#include <functional>

namespace kmui {

class OrvelController : public SmbusDevice {
public:
    static constexpr const char *kVersionText = "ORVEL SIM 1.0";
    // bit 0 clock, bit 1 schedule blocks, bit 2 power resume, bit 3 shutdown tick
    static constexpr uint8_t kFeatureBitmap = 0x0F;

    static constexpr uint8_t kRegFeatures = 0x18;
    static constexpr uint8_t kRegControl = 0x19;
    static constexpr uint8_t kRegClock = 0x20;
    static constexpr uint8_t kRegMisc = 0x80;
    static constexpr uint8_t kRegTick = 0x81;
    static constexpr uint8_t kControlPowerResume = 0x01;
    static constexpr uint8_t kControlClockHold = 0x08;

    explicit OrvelController(std::function<std::time_t()> now);

    uint8_t busRead(uint8_t reg) override;
    void busWrite(uint8_t reg, uint8_t value) override;
    uint8_t peek(uint8_t reg) const override;
    void poke(uint8_t reg, uint8_t value) override;
    void saveState(StateMap &out) const override;
    void loadState(const StateMap &in) override;

    static bool isReadable(uint8_t reg);
    static bool isWritable(uint8_t reg);

private:
    using ClockBytes = std::array<uint8_t, 6>;
    ClockBytes runningClock() const;
    void setClock(const ClockBytes &bytes);
    void writeControl(uint8_t value);
    void loadRom();

    std::function<std::time_t()> now_;
    std::array<uint8_t, 256> regs_{};
    long long clockOffset_ = 0;   // seconds added to the host clock
    ClockBytes heldClock_{};      // what reads see while the hold bit is set
    bool heldClockWritten_ = false;
};

} // namespace kmui
