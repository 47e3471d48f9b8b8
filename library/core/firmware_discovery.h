#pragma once
// Finding the firmware's call parameters and verifying its service.
#include <cstdint>

namespace orvel {

constexpr uint32_t kTableFirst = 0xE0000;
constexpr uint32_t kTableStep = 16;
constexpr int kTableProbes = 4096;  // up to 0xEFFF0
constexpr uint32_t kServiceSignatureEbx = 0x70479315;

// Probes the firmware area for the "$ORV" table and, when found, takes the call
// port and code from it. Without a match they keep their values.
void scanFirmwareTable();

} // namespace orvel

// Asks the firmware whether its service is there: 0 verified, 1 no session,
// 2 not verified. Writes the returned registers to the debug output.
int32_t ORVL_ServiceCheck();
