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
    case ORVL_ERR_NULL_POINTER:
        return "a null pointer was passed to the library";
    default:
        return "library error " + std::to_string(status);
    }
}

std::string noAnswerMessage(int status)
{
    return "the board did not answer (KMUI driver gave no reply; status " + std::to_string(status) + ")";
}

} // namespace orvelctl
