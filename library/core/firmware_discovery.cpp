#include "firmware_discovery.h"

#include <algorithm>
#include <cstring>

#include "control_blocks.h"
#include "debug_print.h"
#include "driver_session.h"
#include "library_state.h"
#include "orvel.h"

namespace orvel {

void scanFirmwareTable()
{
    LibraryState &s = state();
    const DriverSession *session = s.session;
    if (!session || !session->isOpen())
        return;  // nothing can be read, so nothing can match

    // Bytes past a short count are not refreshed and keep the previous probe's.
    uint8_t window[8] = {};
    for (int k = 0; k < kTableProbes; ++k) {
        PhysicalReadBlock block(kTableFirst + kTableStep * uint32_t(k));
        session->request(kPhysicalReadCode, block.bytes, sizeof block.bytes);
        // The driver's count is not trusted beyond what the window holds.
        const size_t count = std::min<uint32_t>(block.count(), sizeof window);
        std::memcpy(window, block.data(), count);
        if (std::memcmp(window, "$ORV", 4) == 0) {
            s.callPort = window[5];
            s.callCode = window[6];
            return;
        }
    }
}

} // namespace orvel

int32_t ORVL_ServiceCheck()
{
    using namespace orvel;
    LibraryState &s = state();
    if (!s.session)
        return ORVL_ERR_NO_SESSION;

    FirmwareCallBlock block(s.callPort, s.callCode, 0, 0, 0, 0);
    s.session->request(kFirmwareCallCode, block.bytes, sizeof block.bytes);
    debugPrint("ORVL_ServiceCheck");
    debugPrint("EAX=0x%.8X, EBX=0x%.8X, ECX=0x%.8X, EDX=0x%.8X,\n", unsigned(block.eax()),
               unsigned(block.ebx()), unsigned(block.ecx()), unsigned(block.edx()));

    if (block.ebx() == kServiceSignatureEbx && block.ecx() == 1) {
        s.firmwareVerified = true;
        return ORVL_OK;
    }
    return ORVL_ERR_NOT_VERIFIED;
}
