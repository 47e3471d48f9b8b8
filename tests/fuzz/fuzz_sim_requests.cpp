// kmui-sim's server side on raw request bytes: the input is cut into pieces
// that arrive, in turn, on two connections to one board (configured by the
// first byte), as a socket delivers them. Every served request gets a reply
// of the length it was sent with, in order.
#include "kmui_board.h"
#include "request_stream.h"

extern "C" {
#include "kmui_framing.h"
}

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

kmui::BoardConfig configFrom(uint8_t knobs)
{
    kmui::BoardConfig config;
    config.now = [] { return std::time_t(1700000000); };
    config.tablePresent = (knobs & 1) == 0;
    config.readyAfter = (knobs >> 1) & 3;
    config.doneAfter = (knobs >> 3) & 3;
    config.serviceCheckFails = (knobs & 0x20) != 0;
    config.returnedCount = (knobs & 0x40) ? 0xFFFFFFFFu : 7;
    return config;
}

struct Connection {
    kmui::ConnectionId id;
    std::string in;
    std::string out;
    std::string sentLengths;  // the length field of every request served, in order
};

// Lengths of the whole requests at the front of `in`, as the server will see them.
void noteRequests(const std::string &in, std::string &lengths)
{
    size_t pos = 0;
    uint32_t code = 0, length = 0;
    while (kmuiNextRequest(reinterpret_cast<const unsigned char *>(in.data()) + pos, in.size() - pos, &code,
                           &length) == KMUI_FRAME_COMPLETE) {
        lengths.append(reinterpret_cast<const char *>(&length), sizeof length);
        pos += KMUI_REQUEST_HEADER_SIZE + length;
    }
}

// The replies carry the request lengths in order, and nothing else.
void checkReplies(const Connection &c)
{
    size_t pos = 0, index = 0;
    while (pos < c.out.size()) {
        if (c.out.size() - pos < KMUI_REPLY_HEADER_SIZE || index + 4 > c.sentLengths.size())
            std::abort();
        const uint32_t length = kmuiGetU32(reinterpret_cast<const unsigned char *>(c.out.data()) + pos);
        if (std::memcmp(&length, c.sentLengths.data() + index, 4) != 0)
            std::abort();
        pos += KMUI_REPLY_HEADER_SIZE + length;
        index += 4;
    }
    if (pos != c.out.size() || index != c.sentLengths.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    kmui::Board board(configFrom(data[0]));
    Connection connections[2] = {{1, {}, {}, {}}, {2, {}, {}, {}}};
    size_t pos = 1;
    for (int turn = 0; pos < size; ++turn) {
        // Piece length byte, then the piece.
        const size_t piece = std::min<size_t>(size - pos - 1, size_t(data[pos]) * 4 + 1);
        ++pos;
        Connection &c = connections[turn % 2];
        c.in.append(reinterpret_cast<const char *>(data + pos), piece);
        pos += piece;
        std::string before = c.in;
        noteRequests(before, c.sentLengths);
        if (!kmui::serveRequests(board, c.id, c.in, c.out)) {
            // Dropped, as the server drops the socket: its bus is free again.
            checkReplies(c);
            board.connectionClosed(c.id);
            c = Connection{c.id + 2, {}, {}, {}};
            continue;
        }
        checkReplies(c);
    }
    for (const Connection &c : connections)
        board.connectionClosed(c.id);
    return 0;
}
