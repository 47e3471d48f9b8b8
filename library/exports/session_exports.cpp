// Opening and closing the interface.
#include "core/driver_session.h"
#include "core/firmware_discovery.h"
#include "core/library_state.h"
#include "orvel.h"

#include <new>

using namespace orvel;

int32_t ORVL_CALL ORVL_OpenInterface(void)
{
    LibraryState &s = state();
    if (!s.session) {
        // Owned by the process-wide state until ORVL_CloseInterface; a process
        // that never closes keeps its device and service, as on Windows.
        // No exception may leave an export: out of memory is no session.
        s.session = new (std::nothrow) DriverSession();
        if (!s.session)
            return ORVL_ERR_NO_SESSION;
        s.session->open();
        if (!s.session->isOpen())
            return ORVL_ERR_NO_SESSION;
    }
    scanFirmwareTable();
    return ORVL_ServiceCheck();
}

int32_t ORVL_CALL ORVL_CloseInterface(void)
{
    LibraryState &s = state();
    if (!s.session)
        return ORVL_OK;
    s.session->close();
    delete s.session;
    s.session = nullptr;
    return ORVL_OK;
}
