#include "status_text.h"

#include "orvel.h"

namespace orvelctl {

std::string statusMessage(int status)
{
    switch (status) {
    case ORVL_OK:
        return "ok";
    case ORVL_ERR_NO_SESSION:
        return "no session: the KMUI device could not be opened";
    case ORVL_ERR_NOT_VERIFIED:
        return "firmware service check failed";
    case ORVL_ERR_TIMEOUT:
        return "controller did not answer (timeout)";
    case ORVL_ERR_PROTECTED:
        return "address is protected";
    default:
        return "library error " + std::to_string(status);
    }
}

} // namespace orvelctl
