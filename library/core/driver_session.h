#pragma once
// The library's hold on the KMUI driver: the device handle and whether this
// library installed the driver's service (then closing removes it again).
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace orvel {

class DriverSession {
public:
    DriverSession() = default;
    ~DriverSession();
    DriverSession(const DriverSession &) = delete;
    DriverSession &operator=(const DriverSession &) = delete;

    // Opens the device exclusively; when that fails, installs and starts the
    // driver's service and opens it shared. Does nothing while a device is held.
    void open();
    // Closes the device when one is held and removes a service this session
    // installed (also when the device could not be opened after all).
    void close();

    // Sends one request while the device is open; otherwise leaves the buffer
    // as it is. The OS's result is not used: only the returned buffer counts.
    void request(uint32_t controlCode, void *buffer, uint32_t length) const;

    bool isOpen() const { return isOpen_ != 0; }
    int serviceInstalled() const { return serviceInstalled_; }

    // Drops the handle without closing it (test reset only).
    void forget();

private:
    OrvlDevice device_ = ORVL_NO_DEVICE;
    int isOpen_ = 0;
    int serviceInstalled_ = 0;
};

} // namespace orvel
