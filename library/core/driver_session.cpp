#include "driver_session.h"

#include "driver_names.h"

namespace orvel {

DriverSession::~DriverSession()
{
    close();
}

void DriverSession::open()
{
    if (device_ != ORVL_NO_DEVICE)
        return;
    const OrvlPlatform *os = orvlPlatform();

    device_ = os->openDevice(currentDriverNames().device, 0);
    if (device_ != ORVL_NO_DEVICE) {
        isOpen_ = 1;
        return;
    }

    const DriverNames &names = currentDriverNames();
    serviceInstalled_ = os->installAndStart(names.serviceName, names.displayName, names.driverPath);
    if (!serviceInstalled_) {
        device_ = ORVL_NO_DEVICE;
        isOpen_ = 0;
        return;
    }

    // The second attempt, on the driver we just started, asks for shared access.
    device_ = os->openDevice(currentDriverNames().device, 1);
    isOpen_ = device_ != ORVL_NO_DEVICE ? 1 : 0;
}

void DriverSession::close()
{
    const OrvlPlatform *os = orvlPlatform();
    if (device_ != ORVL_NO_DEVICE) {
        os->closeDevice(device_);
        device_ = ORVL_NO_DEVICE;
    }
    // Also when the open after the install failed: a service this session
    // installed does not outlive it.
    if (serviceInstalled_) {
        os->stopAndRemove(currentDriverNames().serviceName);  // failures are not reported
        serviceInstalled_ = 0;
    }
    isOpen_ = 0;
}

void DriverSession::request(uint32_t controlCode, void *buffer, uint32_t length) const
{
    if (!isOpen_)
        return;
    orvlPlatform()->ioControl(device_, controlCode, buffer, length);
}

void DriverSession::forget()
{
    device_ = ORVL_NO_DEVICE;
    isOpen_ = 0;
    serviceInstalled_ = 0;
}

} // namespace orvel
