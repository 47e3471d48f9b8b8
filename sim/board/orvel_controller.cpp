#include "orvel_controller.h"

#include <cstdlib>
#include <cstring>

namespace kmui {

namespace {

bool inRange(uint8_t reg, uint8_t first, uint8_t last) { return reg >= first && reg <= last; }

bool isScheduleReg(uint8_t reg)
{
    uint8_t base = reg & 0xF0;
    return (base == 0x30 || base == 0x40 || base == 0x50 || base == 0x60) && (reg & 0x0F) <= 5;
}

bool isClockReg(uint8_t reg) { return inRange(reg, 0x20, 0x25); }

} // namespace

OrvelController::OrvelController(std::function<std::time_t()> now)
    : now_(std::move(now))
{
    if (!now_)
        now_ = [] { return std::time(nullptr); };
    loadRom();
    // Factory schedules in the two blocks the library cannot write, so that
    // reading them shows something: weekdays on 07:00, off 19:00, disabled.
    const uint8_t factory[6] = {0x00, 0x3E, 7, 0, 19, 0};
    for (int i = 0; i < 6; ++i) {
        regs_[0x30 + i] = factory[i];
        regs_[0x40 + i] = factory[i];
    }
}

void OrvelController::loadRom()
{
    std::memset(regs_.data(), 0, 16);
    std::memcpy(regs_.data(), kVersionText, std::strlen(kVersionText));
    regs_[kRegFeatures] = kFeatureBitmap;
}

bool OrvelController::isReadable(uint8_t reg)
{
    return inRange(reg, 0x00, 0x0F) || reg == kRegFeatures || reg == kRegControl || isClockReg(reg)
        || isScheduleReg(reg) || reg == kRegMisc;
}

bool OrvelController::isWritable(uint8_t reg)
{
    return reg == kRegControl || isClockReg(reg) || isScheduleReg(reg) || reg == kRegMisc || reg == kRegTick;
}

uint8_t OrvelController::busRead(uint8_t reg)
{
    return isReadable(reg) ? peek(reg) : 0x00;
}

void OrvelController::busWrite(uint8_t reg, uint8_t value)
{
    if (isWritable(reg))
        poke(reg, value);
}

uint8_t OrvelController::peek(uint8_t reg) const
{
    if (isClockReg(reg)) {
        if (regs_[kRegControl] & kControlClockHold)
            return heldClock_[reg - kRegClock];
        return runningClock()[reg - kRegClock];
    }
    return regs_[reg];
}

void OrvelController::poke(uint8_t reg, uint8_t value)
{
    if (reg == kRegControl) {
        writeControl(value);
    } else if (isClockReg(reg)) {
        if (regs_[kRegControl] & kControlClockHold) {
            heldClock_[reg - kRegClock] = value;
            heldClockWritten_ = true;
        } else {
            ClockBytes bytes = runningClock();
            bytes[reg - kRegClock] = value;
            setClock(bytes);
        }
    } else {
        regs_[reg] = value;
    }
}

void OrvelController::writeControl(uint8_t value)
{
    const bool wasHeld = regs_[kRegControl] & kControlClockHold;
    const bool held = value & kControlClockHold;
    if (!wasHeld && held) {
        heldClock_ = runningClock();
        heldClockWritten_ = false;
    }
    regs_[kRegControl] = value;
    // Releasing the hold starts the clock from what was written under it;
    // without writes the clock simply kept running underneath.
    if (wasHeld && !held && heldClockWritten_) {
        setClock(heldClock_);
        heldClockWritten_ = false;
    }
}

OrvelController::ClockBytes OrvelController::runningClock() const
{
    std::time_t t = static_cast<std::time_t>(static_cast<long long>(now_()) + clockOffset_);
    std::tm tm{};
    ClockBytes bytes{};
    if (!gmtime_r(&t, &tm))
        return bytes;
    int year = tm.tm_year + 1900 - 2000;
    bytes[0] = static_cast<uint8_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    bytes[1] = static_cast<uint8_t>(tm.tm_min);
    bytes[2] = static_cast<uint8_t>(tm.tm_hour);
    bytes[3] = static_cast<uint8_t>(tm.tm_mday);
    bytes[4] = static_cast<uint8_t>(tm.tm_mon + 1);
    bytes[5] = static_cast<uint8_t>(year < 0 ? 0 : (year > 255 ? 255 : year));
    return bytes;
}

void OrvelController::setClock(const ClockBytes &bytes)
{
    // Out-of-range fields (month 13, second 75) roll over as timegm does.
    std::tm tm{};
    tm.tm_sec = bytes[0];
    tm.tm_min = bytes[1];
    tm.tm_hour = bytes[2];
    tm.tm_mday = bytes[3];
    tm.tm_mon = bytes[4] - 1;
    tm.tm_year = bytes[5] + 100;
    std::time_t t = timegm(&tm);
    if (t == static_cast<std::time_t>(-1))
        return;
    clockOffset_ = static_cast<long long>(t) - static_cast<long long>(now_());
}

void OrvelController::saveState(StateMap &out) const
{
    out["orvel-ae-registers"] = bytesToHex(regs_.data(), regs_.size());
    out["orvel-ae-clock-offset"] = std::to_string(clockOffset_);
    out["orvel-ae-held-clock"] = bytesToHex(heldClock_.data(), heldClock_.size());
    out["orvel-ae-held-clock-written"] = heldClockWritten_ ? "1" : "0";
}

void OrvelController::loadState(const StateMap &in)
{
    auto get = [&in](const char *key) -> const std::string * {
        auto it = in.find(key);
        return it == in.end() ? nullptr : &it->second;
    };
    if (auto v = get("orvel-ae-registers"))
        hexToBytes(*v, regs_.data(), regs_.size());
    if (auto v = get("orvel-ae-clock-offset")) {
        char *end = nullptr;
        long long offset = std::strtoll(v->c_str(), &end, 10);
        // A wild offset would overflow the clock arithmetic; keep the old one.
        const long long kCentury = 100LL * 366 * 24 * 3600;
        if (end && *end == '\0' && !v->empty() && offset > -kCentury && offset < kCentury)
            clockOffset_ = offset;
    }
    if (auto v = get("orvel-ae-held-clock"))
        hexToBytes(*v, heldClock_.data(), heldClock_.size());
    if (auto v = get("orvel-ae-held-clock-written"))
        heldClockWritten_ = *v == "1";
    // Version text and feature bitmap are the controller's ROM, not state.
    loadRom();
}

} // namespace kmui
