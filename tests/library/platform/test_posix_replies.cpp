// The POSIX backend against a peer that is not a well-behaved board: a reply
// of another length than the request's, and one that trickles in a byte at a
// time. Either fails the request like a dead board, within one deadline for
// the whole request, and leaves the caller's buffer as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "temp_dir.h"

extern "C" {
#include "kmui_framing.h"
}

namespace {

using Clock = std::chrono::steady_clock;

struct ReplyCase {
    const char *name;
    int64_t lengthChange;   // reply length = request length + this (mod 2^32)
    int trickleMs;          // > 0: one byte of the reply every trickleMs
    int expected;           // ioControl's result
};

// Answers every request on KMUI32_1K.sock the way the case says, with the
// request's bytes reversed as its "result".
class OddBoard {
public:
    OddBoard(const std::string &folder, const ReplyCase &c) : case_(c)
    {
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/KMUI32_1K.sock", folder.c_str());
        ok_ = listener_ >= 0 && bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
              && listen(listener_, 8) == 0;
        if (ok_)
            thread_ = std::thread([this] { serve(); });
    }
    ~OddBoard()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }
    bool ok() const { return ok_; }
    int connections() const { return connections_; }

private:
    void serve()
    {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            ++connections_;
            answer(fd);
            close(fd);
        }
    }
    void answer(int fd)
    {
        unsigned char header[KMUI_REQUEST_HEADER_SIZE];
        while (!stop_ && readAll(fd, header, sizeof header)) {
            const uint32_t length = kmuiGetU32(header + 4);
            std::vector<unsigned char> body(length);
            if (!readAll(fd, body.data(), length))
                return;
            std::vector<unsigned char> reply(KMUI_REPLY_HEADER_SIZE);
            kmuiPutReplyHeader(reply.data(), uint32_t(int64_t(length) + case_.lengthChange));
            reply.insert(reply.end(), body.rbegin(), body.rend());
            // A few bytes more than announced-and-sent for "Longer"; "Huge"
            // only announces.
            if (case_.lengthChange > 0 && case_.lengthChange <= 1024)
                reply.insert(reply.end(), size_t(case_.lengthChange), 0x5A);
            if (case_.trickleMs <= 0) {
                if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0)
                    return;
                continue;
            }
            for (unsigned char byte : reply) {
                if (stop_ || send(fd, &byte, 1, MSG_NOSIGNAL) != 1)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(case_.trickleMs));
            }
        }
    }
    bool readAll(int fd, unsigned char *p, size_t n)
    {
        while (n > 0) {
            pollfd w{fd, POLLIN, 0};
            if (stop_)
                return false;
            if (poll(&w, 1, 50) <= 0)
                continue;
            const ssize_t got = recv(fd, p, n, 0);
            if (got <= 0)
                return false;
            p += got;
            n -= size_t(got);
        }
        return true;
    }

    ReplyCase case_;
    int listener_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

class PosixReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(PosixReplies, OnlyAReplyOfTheRequestsLengthCounts)
{
    halden::test::TempDir dir("posix-replies");
    ::setenv("KMUI_RUNTIME_DIR", dir.path().c_str(), 1);
    OddBoard board(dir.path(), GetParam());
    ASSERT_TRUE(board.ok());
    const OrvlPlatform *os = orvlPlatform();
    const OrvlDevice device = os->openDevice("\\\\.\\KMUI32_1K", 1);
    ASSERT_NE(device, ORVL_NO_DEVICE);

    std::vector<uint8_t> buffer(24);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = uint8_t(i);
    const std::vector<uint8_t> sent = buffer;
    // The bound is loose on purpose: without an overall deadline the trickle
    // takes over a minute; with it, one request's deadline (5 s).
    const auto begin = Clock::now();
    const int result = os->ioControl(device, 0x1234, buffer.data(), uint32_t(buffer.size()));
    const auto took = Clock::now() - begin;
    EXPECT_EQ(result, GetParam().expected);
    if (GetParam().expected == 1) {
        EXPECT_EQ(buffer, std::vector<uint8_t>(sent.rbegin(), sent.rend()));
    } else {
        EXPECT_EQ(buffer, sent) << "a refused reply leaves the caller's buffer alone";
        EXPECT_LT(took, std::chrono::seconds(20)) << "the request had no overall deadline";
    }
    std::printf("%s: %lld ms\n", GetParam().name,
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    os->closeDevice(device);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixReplies,
    ::testing::Values(ReplyCase{"SameLength", 0, 0, 1},
                      ReplyCase{"Shorter", -1, 0, 0},
                      ReplyCase{"Longer", 7, 0, 0},
                      ReplyCase{"Huge", 0xFFFFFFFFll - 24, 0, 0},
                      ReplyCase{"TrickledPastTheDeadline", 0, 400, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// After a reply out of step the connection is dropped, so the next request
// goes over a fresh one and is not read against the leftovers.
TEST(PosixRepliesAfterAFault, TheNextRequestConnectsAfresh)
{
    halden::test::TempDir dir("posix-replies");
    ::setenv("KMUI_RUNTIME_DIR", dir.path().c_str(), 1);
    OddBoard board(dir.path(), ReplyCase{"Longer", 7, 0, 0});
    ASSERT_TRUE(board.ok());
    const OrvlPlatform *os = orvlPlatform();
    const OrvlDevice device = os->openDevice("\\\\.\\KMUI32_1K", 1);
    ASSERT_NE(device, ORVL_NO_DEVICE);
    uint8_t buffer[8] = {};
    EXPECT_EQ(os->ioControl(device, 1, buffer, sizeof buffer), 0);
    EXPECT_EQ(os->ioControl(device, 1, buffer, sizeof buffer), 0);
    os->closeDevice(device);
    EXPECT_EQ(board.connections(), 2);
}

} // namespace
