#pragma once
// The driver's device, file and service names. The 64-bit driver serves
// 32-bit processes running under WOW64.

namespace orvel {

struct DriverNames {
    const char *device;
    const char *driverPath;
    const char *serviceName;
    const char *displayName;
};

// Asks the platform anew each time: the answer decides which driver is meant.
const DriverNames &currentDriverNames();

} // namespace orvel
