#include "driver_names.h"

#include "platform/platform.h"

namespace orvel {

namespace {
const DriverNames kNative = {"\\\\.\\KMUI32_1K", "SYSTEM32\\DRIVERS\\KMUI32_1K.SYS", "KMUI32_1K", "KMUI32_1K"};
const DriverNames kWow64 = {"\\\\.\\KMUI64_1K", "SYSTEM32\\DRIVERS\\KMUI64_1K.SYS", "KMUI64", "KMUI64"};
} // namespace

const DriverNames &currentDriverNames()
{
    return orvlPlatform()->isWow64() ? kWow64 : kNative;
}

} // namespace orvel
