// The firmware serves one SMBus transaction at a time across the open device
// handles: a handle that has seen ready holds the bus until its done (or its
// close), and nothing another handle sends touches that transaction.
#include "firmware_client.h"
#include "kmui_board.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

using halden::test::FirmwareClient;
using halden::test::Registers;

namespace {

constexpr uint32_t kReady = 0x00010000u;
constexpr uint32_t kDone = 0x00030000u;
constexpr uint32_t kStartRead = 0x00020100u + 0xAE;
constexpr uint32_t kStartWrite = 0x00020000u + 0xAE;

// One board, two open handles on it.
struct TwoHandles {
    explicit TwoHandles(kmui::BoardConfig config = {})
        : board(config), a(over(1), config.callPort, config.callCode), b(over(2), config.callPort, config.callCode)
    {
    }
    FirmwareClient::Transport over(kmui::ConnectionId id)
    {
        return [this, id](uint32_t code, std::vector<uint8_t> &buffer) {
            board.handleRequest(id, code, buffer.data(), buffer.size());
        };
    }
    bool ready(FirmwareClient &c) { return c.call(kReady, 0).eax & 1; }
    kmui::Board board;
    FirmwareClient a, b;
};

uint32_t writeArgs(uint8_t reg, uint8_t value) { return uint32_t(reg) << 8 | value; }

} // namespace

TEST(SharedBus, SecondHandleWaitsUntilTheFirstIsDone)
{
    TwoHandles h;
    h.board.setReg(0xAE, 0x60, 0x5A);
    ASSERT_TRUE(h.ready(h.a));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(h.ready(h.b)) << i;
    h.a.call(kStartRead, 0x60 << 8);
    EXPECT_FALSE(h.ready(h.b));
    // b's start and done while a holds the bus change nothing and report nothing.
    h.b.call(kStartWrite, writeArgs(0x60, 0x22));
    Registers foreign = h.b.call(kDone, 0);
    EXPECT_EQ(foreign.eax, 0u);
    EXPECT_EQ(foreign.ebx, 0u);
    EXPECT_EQ(h.board.reg(0xAE, 0x60), 0x5A);

    uint8_t value = 0;
    ASSERT_EQ(h.a.waitDone(&value), 1);
    EXPECT_EQ(value, 0x5A);
    ASSERT_TRUE(h.ready(h.b));
    EXPECT_FALSE(h.ready(h.a));
    h.b.call(kStartWrite, writeArgs(0x60, 0x22));
    EXPECT_EQ(h.b.waitDone(), 1);
    EXPECT_EQ(h.board.reg(0xAE, 0x60), 0x22);
    EXPECT_EQ(h.a.waitReady(), 1);
}

TEST(SharedBus, ForeignDoneQueriesDoNotCountTowardsTheHoldersDone)
{
    kmui::BoardConfig config;
    config.doneAfter = 3;
    TwoHandles h(config);
    h.board.setReg(0xAE, 0x61, 0x77);
    ASSERT_TRUE(h.ready(h.a));
    h.a.call(kStartRead, 0x61 << 8);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(h.b.call(kDone, 0).eax, 0u) << i;
    uint8_t value = 0;
    EXPECT_EQ(h.a.waitDone(&value), 3);
    EXPECT_EQ(value, 0x77);
}

TEST(SharedBus, ReadyLatencyStartsWhenTheBusIsFree)
{
    kmui::BoardConfig config;
    config.readyAfter = 3;
    config.doneAfter = 2;
    TwoHandles h(config);
    EXPECT_EQ(h.a.waitReady(), 3);
    for (int i = 0; i < 7; ++i)
        EXPECT_FALSE(h.ready(h.b)) << i;
    h.a.call(kStartWrite, writeArgs(0x80, 0x01));
    EXPECT_EQ(h.a.waitDone(), 2);
    EXPECT_EQ(h.b.waitReady(), 3);
    h.b.call(kStartWrite, writeArgs(0x80, 0x02));
    EXPECT_EQ(h.b.waitDone(), 2);
    EXPECT_EQ(h.board.reg(0xAE, 0x80), 0x02);
}

// Where the holder is when its handle closes.
enum class Phase { ReadySeen, Started, StartedNeverDone };

class ClosedHolder : public testing::TestWithParam<Phase> {};

TEST_P(ClosedHolder, FreesTheBus)
{
    kmui::BoardConfig config;
    config.doneAfter = GetParam() == Phase::StartedNeverDone ? 0 : 1;
    TwoHandles h(config);
    ASSERT_TRUE(h.ready(h.a));
    if (GetParam() != Phase::ReadySeen) {
        h.a.call(kStartWrite, writeArgs(0x80, 0x44));
        if (GetParam() == Phase::StartedNeverDone) {
            EXPECT_EQ(h.a.waitDone(), 0);
        }
    }
    EXPECT_FALSE(h.ready(h.b));
    h.board.connectionClosed(1);
    ASSERT_TRUE(h.ready(h.b));
    // A transaction acts when it starts, so a started one has landed.
    EXPECT_EQ(h.board.reg(0xAE, 0x80), GetParam() == Phase::ReadySeen ? 0x00 : 0x44);
    h.b.call(kStartWrite, writeArgs(0x80, 0x55));
    EXPECT_EQ(h.board.reg(0xAE, 0x80), 0x55);
}

std::string phaseName(const testing::TestParamInfo<Phase> &info)
{
    switch (info.param) {
    case Phase::ReadySeen:
        return "ReadySeen";
    case Phase::Started:
        return "Started";
    case Phase::StartedNeverDone:
        break;
    }
    return "StartedNeverDone";
}

INSTANTIATE_TEST_SUITE_P(Cases, ClosedHolder,
                         testing::Values(Phase::ReadySeen, Phase::Started, Phase::StartedNeverDone), phaseName);

TEST(SharedBus, ClosingAnotherHandleLeavesTheHolderAlone)
{
    TwoHandles h;
    ASSERT_TRUE(h.ready(h.a));
    h.board.connectionClosed(2);
    h.board.connectionClosed(99);
    EXPECT_FALSE(h.ready(h.b));
    h.a.call(kStartWrite, writeArgs(0x80, 0x66));
    EXPECT_EQ(h.a.waitDone(), 1);
    EXPECT_EQ(h.board.reg(0xAE, 0x80), 0x66);
}

TEST(SharedBus, HolderThatGaveUpOnDoneMayStartAgain)
{
    // The library gives up after 100 done queries and starts its next
    // transaction with a ready query; that must not lock its own handle out.
    kmui::BoardConfig config;
    config.doneAfter = 0;
    TwoHandles h(config);
    EXPECT_FALSE(h.a.write(0xAE, 0x80, 0x10));
    EXPECT_FALSE(h.ready(h.b));
    EXPECT_FALSE(h.a.write(0xAE, 0x81, 0x20));
    EXPECT_EQ(h.board.reg(0xAE, 0x80), 0x10);
    EXPECT_EQ(h.board.reg(0xAE, 0x81), 0x20);
    EXPECT_FALSE(h.ready(h.b));
}

TEST(SharedBus, InProcessUserIsOneHandle)
{
    kmui::Board board{kmui::BoardConfig{}};
    FirmwareClient local([&board](uint32_t code, std::vector<uint8_t> &b) {
        board.handleRequest(code, b.data(), b.size());
    });
    FirmwareClient other([&board](uint32_t code, std::vector<uint8_t> &b) {
        board.handleRequest(7, code, b.data(), b.size());
    });
    ASSERT_EQ(local.waitReady(), 1);
    EXPECT_EQ(other.waitReady(3), 0);
    board.connectionClosed(kmui::kLocalConnection);
    EXPECT_EQ(other.waitReady(), 1);
}

// Two handles step through their own transactions in a shuffled order, each
// on its own registers; every read must give back what that handle wrote.
TEST(SharedBus, ShuffledTransactionsNeverMix)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        kmui::BoardConfig config;
        config.readyAfter = 1 + int(seed % 3);
        config.doneAfter = 1 + int(seed % 2);
        TwoHandles h(config);
        struct Worker {
            FirmwareClient *client;
            uint8_t firstReg;
            enum { Ready, Done } phase = Ready;
            int step = 0;  // even: write, odd: read back
            uint8_t expected = 0;
            int finished = 0;
        };
        std::array<Worker, 2> workers{Worker{&h.a, 0x50}, Worker{&h.b, 0x60}};
        std::mt19937 random(seed);
        int queries = 0;
        while ((workers[0].finished < 24 || workers[1].finished < 24) && queries < 100000) {
            Worker &w = workers[random() % 2];
            if (w.finished >= 24)
                continue;
            ++queries;
            const uint8_t reg = uint8_t(w.firstReg + (w.step / 2) % 6);
            if (w.phase == Worker::Ready) {
                if (!(w.client->call(kReady, 0).eax & 1))
                    continue;
                if (w.step % 2 == 0) {
                    w.expected = uint8_t(w.firstReg ^ (w.step * 7 + seed));
                    w.client->call(kStartWrite, writeArgs(reg, w.expected));
                } else {
                    w.client->call(kStartRead, uint32_t(reg) << 8);
                }
                w.phase = Worker::Done;
                continue;
            }
            Registers r = w.client->call(kDone, 0);
            if (!(r.eax & 1))
                continue;
            if (w.step % 2 == 1) {
                ASSERT_EQ(r.ebx & 0xFF, w.expected) << "seed " << seed << " register " << int(reg);
            }
            w.phase = Worker::Ready;
            ++w.step;
            ++w.finished;
        }
        EXPECT_EQ(workers[0].finished, 24) << "seed " << seed;
        EXPECT_EQ(workers[1].finished, 24) << "seed " << seed;
    }
}
