#include "request_stream.h"

extern "C" {
#include "kmui_framing.h"
}

namespace kmui {

bool serveRequests(Board &board, ConnectionId connection, std::string &in, std::string &out)
{
    size_t pos = 0;
    bool valid = true;
    for (;;) {
        const auto *front = reinterpret_cast<const unsigned char *>(in.data()) + pos;
        uint32_t code = 0;
        uint32_t length = 0;
        const KmuiFrameStatus status = kmuiNextRequest(front, in.size() - pos, &code, &length);
        if (status == KMUI_FRAME_INVALID)
            valid = false;
        if (status != KMUI_FRAME_COMPLETE)
            break;
        std::string buffer = in.substr(pos + KMUI_REQUEST_HEADER_SIZE, length);
        board.handleRequest(connection, code, reinterpret_cast<uint8_t *>(buffer.data()), buffer.size());
        unsigned char header[KMUI_REPLY_HEADER_SIZE];
        kmuiPutReplyHeader(header, length);
        out.append(reinterpret_cast<const char *>(header), sizeof header);
        out += buffer;
        pos += KMUI_REQUEST_HEADER_SIZE + length;
    }
    in.erase(0, pos);
    return valid;
}

} // namespace kmui
