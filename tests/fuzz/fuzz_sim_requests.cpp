// kmui-sim's server side on raw request bytes: the input is cut into pieces
// that arrive, in turn, on two connections to one board (configured by the
// first byte), as a socket delivers them. Checked against the protocol as
// this file states it, not against the server's own framing code:
//  - a request is uint32 code, uint32 length (host order) and that many
//    bytes, at most 64 KiB; every whole request gets one reply, in order,
//    carrying as many bytes as were sent; a longer length drops the stream;
//  - the firmware runs one SMBus transaction at a time: a ready query that
//    answers ready gives the bus to its connection until that connection's
//    done query reports a started transaction done (or it closes), so two
//    connections never hold the bus at once.
#include "kmui_board.h"
#include "request_stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kHeader = 8;
constexpr size_t kReplyHeader = 4;
constexpr uint32_t kMaxLength = 64 * 1024;
// The firmware call and its SMBus functions (EBX's upper half).
constexpr uint32_t kFirmwareCall = 0xF1F82418u;
constexpr size_t kCallSize = 18;
constexpr uint8_t kPort = 0xB2, kCode = 0xEE;  // the board's defaults, which configFrom keeps
constexpr uint32_t kReady = 0x00010000u, kStart = 0x00020000u, kDone = 0x00030000u;

uint32_t u32(const char *p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint32_t le32(const char *p)
{
    const auto *b = reinterpret_cast<const uint8_t *>(p);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

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

struct Request {
    uint32_t code;
    std::string body;
};

struct Connection {
    kmui::ConnectionId id;
    std::string in;
    std::string out;
    size_t repliesRead = 0;  // bytes of `out` already checked
    // The bus as the protocol has it: ready reported and not started since,
    // a started transaction, the bus held.
    bool ready = false, started = false, holds = false;
};

// The whole requests at the front of `in`; false when a length is past the
// protocol's limit (the stream is then no request stream).
bool wholeRequests(const std::string &in, std::vector<Request> &out)
{
    size_t pos = 0;
    while (in.size() - pos >= kHeader) {
        const uint32_t length = u32(in.data() + pos + 4);
        if (length > kMaxLength)
            return false;
        if (in.size() - pos - kHeader < length)
            break;
        out.push_back({u32(in.data() + pos), in.substr(pos + kHeader, length)});
        pos += kHeader + length;
    }
    return true;
}

[[noreturn]] void broken(const char *why)
{
    std::fprintf(stderr, "kmui-sim broke the protocol: %s\n", why);
    std::abort();
}

// The replies the server appended for `requests`, one each and nothing else,
// and what they say about the bus.
void checkReplies(Connection &c, const std::vector<Request> &requests, Connection &other)
{
    size_t pos = c.repliesRead;
    for (const Request &r : requests) {
        if (c.out.size() - pos < kReplyHeader)
            broken("a request got no reply");
        const uint32_t length = u32(c.out.data() + pos);
        if (length != r.body.size() || c.out.size() - pos - kReplyHeader < length)
            broken("a reply's length is not its request's");
        const std::string reply = c.out.substr(pos + kReplyHeader, length);
        pos += kReplyHeader + length;
        if (r.code != kFirmwareCall || r.body.size() != kCallSize || uint8_t(r.body[0]) != kPort
            || uint8_t(r.body[1]) != kCode)
            continue;
        const uint32_t function = le32(r.body.data() + 6) & 0xFFFF0000u;
        const bool bit = (le32(reply.data() + 2) & 1) != 0;
        if (function == kReady && bit) {
            if (other.holds)
                broken("ready reported to a connection while the other held the bus");
            c.ready = c.holds = true;
            c.started = false;
        } else if (function == kStart && ((le32(r.body.data() + 6) >> 8) & 0xFF) <= 1 && c.ready) {
            c.ready = false;
            c.started = true;
        } else if (function == kDone && bit && c.started) {
            c.started = c.holds = false;
        }
    }
    if (pos != c.out.size())
        broken("a reply that answers no request");
    c.repliesRead = pos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    kmui::Board board(configFrom(data[0]));
    Connection connections[2];
    connections[0].id = 1;
    connections[1].id = 2;
    size_t pos = 1;
    for (int turn = 0; pos < size; ++turn) {
        // Piece length byte, then the piece.
        const size_t piece = std::min<size_t>(size - pos - 1, size_t(data[pos]) * 4 + 1);
        ++pos;
        Connection &c = connections[turn % 2];
        Connection &other = connections[(turn + 1) % 2];
        c.in.append(reinterpret_cast<const char *>(data + pos), piece);
        pos += piece;
        std::vector<Request> requests;
        const bool valid = wholeRequests(c.in, requests);
        const bool served = kmui::serveRequests(board, c.id, c.in, c.out);
        checkReplies(c, requests, other);
        if (served != valid)
            broken(valid ? "a request stream was dropped" : "a length past the limit was taken");
        if (!served) {
            // Dropped, as the server drops the socket: its bus is free again.
            board.connectionClosed(c.id);
            const kmui::ConnectionId next = c.id + 2;
            c = Connection{};
            c.id = next;
        }
    }
    for (const Connection &c : connections)
        board.connectionClosed(c.id);
    return 0;
}
