// The board as the driver sees it: firmware memory reads, the firmware call
// with its service check and SMBus phases, devices on the bus, state file.
#include "firmware_client.h"
#include "kmui_board.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <tuple>
#include <string>

using halden::test::FirmwareClient;
using halden::test::Registers;
using halden::test::TempDir;

namespace {

FirmwareClient::Transport transportTo(kmui::Board &board)
{
    return [&board](uint32_t code, std::vector<uint8_t> &b) { board.handleRequest(code, b.data(), b.size()); };
}

struct BoardFixture {
    explicit BoardFixture(kmui::BoardConfig config = {})
        : board(config), client(transportTo(board), config.callPort, config.callCode)
    {
    }
    kmui::Board board;
    FirmwareClient client;
};

uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

} // namespace

// ---- service check -------------------------------------------------------

struct ServiceCase {
    const char *name;
    bool checkFails;
    uint8_t port, code;  // what the caller sends
    Registers in;
    Registers expected;
};

class ServiceCheck : public testing::TestWithParam<ServiceCase> {};

TEST_P(ServiceCheck, AnswersOnlyAMatchingZeroCall)
{
    const ServiceCase &c = GetParam();
    kmui::BoardConfig config;
    config.serviceCheckFails = c.checkFails;
    kmui::Board board(config);
    FirmwareClient client(transportTo(board), c.port, c.code);
    Registers out = client.call(c.in);
    EXPECT_EQ(out.eax, c.expected.eax);
    EXPECT_EQ(out.ebx, c.expected.ebx);
    EXPECT_EQ(out.ecx, c.expected.ecx);
    EXPECT_EQ(out.edx, c.expected.edx);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCheck,
    testing::Values(ServiceCase{"Passes", false, 0xB2, 0xEE, {}, {0, 0x70479315u, 1, 0}},
                    ServiceCase{"FailureInjected", true, 0xB2, 0xEE, {}, {0, 0, 0, 0}},
                    ServiceCase{"LibraryDefaultCodeUnanswered", false, 0xB2, 0xED, {}, {0, 0, 0, 0}},
                    ServiceCase{"WrongPortUnanswered", false, 0xB3, 0xEE, {}, {0, 0, 0, 0}},
                    ServiceCase{"NonZeroEaxIsNoCheck", false, 0xB2, 0xEE, {7, 0, 0, 0}, {7, 0, 0, 0}},
                    ServiceCase{"NonZeroEdxIsNoCheck", false, 0xB2, 0xEE, {0, 0, 0, 9}, {0, 0, 0, 9}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FirmwareCall, MismatchedCallLeavesSmbusUntouched)
{
    BoardFixture f;
    FirmwareClient wrong(transportTo(f.board), 0xB2, 0xED);
    // Neither the ready query nor a write reaches the firmware.
    EXPECT_EQ(wrong.call(0x00010000u, 0).eax, 0u);
    EXPECT_EQ(wrong.call(0x00010000u, 0).ebx, 0x00010000u);
    wrong.call(0x00020000u + 0xAE, 0x80u << 8 | 0x5A);
    EXPECT_EQ(f.board.reg(0xAE, 0x80), 0x00);
}

TEST(FirmwareCall, UnknownFunctionComesBackAsSent)
{
    BoardFixture f;
    Registers out = f.client.call(Registers{3, 0x00090000u, 0x1234, 5});
    EXPECT_EQ(out.eax, 3u);
    EXPECT_EQ(out.ebx, 0x00090000u);
    EXPECT_EQ(out.ecx, 0x1234u);
    EXPECT_EQ(out.edx, 5u);
}

TEST(FirmwareCall, ShortBuffersAndUnknownCodesAreLeftAlone)
{
    kmui::Board board{kmui::BoardConfig{}};
    std::vector<uint8_t> call(17, 0);
    call[0] = 0xB2;
    call[1] = 0xEE;
    auto before = call;
    board.handleRequest(kmui::kFirmwareCallCode, call.data(), call.size());
    EXPECT_EQ(call, before);

    std::vector<uint8_t> read(1033, 0);
    read[0] = 0x40;
    read[1] = 0x8A;
    read[2] = 0x0E;
    before = read;
    board.handleRequest(kmui::kPhysicalReadCode, read.data(), read.size());
    EXPECT_EQ(read, before);

    std::vector<uint8_t> other(1034, 0);
    before = other;
    board.handleRequest(0x12345678u, other.data(), other.size());
    EXPECT_EQ(other, before);
    board.handleRequest(kmui::kPhysicalReadCode, nullptr, 1034);
}

// ---- latencies -----------------------------------------------------------

struct LatencyCase {
    int readyAfter, doneAfter;
};

class Latency : public testing::TestWithParam<LatencyCase> {};

TEST_P(Latency, BitsShowOnTheConfiguredQueryOfEveryWait)
{
    kmui::BoardConfig config;
    config.readyAfter = GetParam().readyAfter;
    config.doneAfter = GetParam().doneAfter;
    BoardFixture f(config);
    for (int transaction = 0; transaction < 3; ++transaction) {
        EXPECT_EQ(f.client.waitReady(200), config.readyAfter) << "transaction " << transaction;
        if (config.readyAfter == 0)
            break;
        f.client.call(0x00020000u + 0xAE, 0x80u << 8 | uint32_t(transaction + 1));
        EXPECT_EQ(f.client.waitDone(nullptr, 200), config.doneAfter) << "transaction " << transaction;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Latency,
                         testing::Values(LatencyCase{1, 1}, LatencyCase{3, 2}, LatencyCase{99, 1},
                                         LatencyCase{1, 99}, LatencyCase{100, 100}, LatencyCase{1, 0},
                                         LatencyCase{0, 1}));

TEST(Latency, ReadyStaysSetUntilTheStart)
{
    kmui::BoardConfig config;
    config.readyAfter = 4;
    BoardFixture f(config);
    EXPECT_EQ(f.client.waitReady(), 4);
    EXPECT_EQ(f.client.waitReady(), 1);
    f.client.call(0x00020100u + 0xAE, 0);
    EXPECT_EQ(f.client.waitReady(), 4);
}

TEST(Latency, StartBeforeReadyIsIgnored)
{
    BoardFixture f;
    f.client.call(0x00020000u + 0xAE, 0x80u << 8 | 0x42);
    EXPECT_EQ(f.board.reg(0xAE, 0x80), 0x00);
    ASSERT_TRUE(f.client.write(0xAE, 0x80, 0x42));
    EXPECT_EQ(f.board.reg(0xAE, 0x80), 0x42);
}

TEST(Latency, NeverDoneStillActsOnTheBusAndReportsNothing)
{
    kmui::BoardConfig config;
    config.doneAfter = 0;
    BoardFixture f(config);
    EXPECT_FALSE(f.client.write(0xAE, 0x80, 0x33));
    EXPECT_EQ(f.board.reg(0xAE, 0x80), 0x33);
    Registers r = f.client.call(0x00030000u, 0);
    EXPECT_EQ(r.eax & 1, 0u);
}

// ---- firmware memory and table -------------------------------------------

struct TableCase {
    bool present;
    uint32_t address;
};

class Table : public testing::TestWithParam<TableCase> {};

TEST_P(Table, SitsWhereConfiguredAndNowhereElse)
{
    kmui::BoardConfig config;
    config.tablePresent = GetParam().present;
    config.tableAddress = GetParam().address;
    config.callPort = 0x4E;
    config.callCode = 0x91;
    BoardFixture f(config);

    // Walk the whole window in overlapping reads, so that no signature
    // straddling two reads is missed, and note every one.
    std::set<uint32_t> seen;
    for (uint32_t base = 0xE0000; base < 0xF0000; base += 1021) {
        auto b = f.client.physicalRead(base);
        for (uint32_t i = 0; i + 4 <= 1024; ++i)
            if (std::memcmp(b.data() + 10 + i, "$ORV", 4) == 0)
                seen.insert(base + i);
    }
    std::vector<uint32_t> found(seen.begin(), seen.end());
    if (!config.tablePresent) {
        EXPECT_TRUE(found.empty());
        return;
    }
    ASSERT_EQ(found, std::vector<uint32_t>{config.tableAddress});
    auto b = f.client.physicalRead(config.tableAddress);
    EXPECT_EQ(b[10 + 5], 0x4E);
    EXPECT_EQ(b[10 + 6], 0x91);
}

INSTANTIATE_TEST_SUITE_P(Cases, Table,
                         testing::Values(TableCase{true, 0xE8A40}, TableCase{true, 0xE0000},
                                         TableCase{true, 0xEFFF0}, TableCase{true, 0xE1235},
                                         TableCase{true, 0xEFFF8}, TableCase{true, 0xE03FE},
                                         TableCase{false, 0xE8A40}));

TEST(PhysicalRead, OutsideTheWindowReadsAllOnes)
{
    BoardFixture f;
    auto b = f.client.physicalRead(0xEFF00);
    for (size_t i = 0; i < 1024; ++i)
        EXPECT_EQ(b[10 + i], i < 0x100 ? 0x00 : 0xFF) << "offset " << i;
    b = f.client.physicalRead(0xFFFFFF00u);  // wraps nowhere
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_EQ(b[10 + i], 0xFF) << "offset " << i;
    b = f.client.physicalRead(0xDFFFF);
    EXPECT_EQ(b[10], 0xFF);
    EXPECT_EQ(b[11], 0x00);
}

TEST(PhysicalRead, ReportsTheConfiguredCountAndKeepsTheHeader)
{
    for (uint32_t count : {7u, 0u, 3u, 8u, 9u, 1024u}) {
        kmui::BoardConfig config;
        config.returnedCount = count;
        BoardFixture f(config);
        auto b = f.client.physicalRead(0xE8A40);
        EXPECT_EQ(le32(b, 6), count);
        EXPECT_EQ(le32(b, 0), 0xE8A40u);
        EXPECT_EQ(b[4] | b[5] << 8, 256);
    }
}

// ---- devices on the bus ---------------------------------------------------

TEST(Bus, EepromReadsErasedAndKeepsWrites)
{
    BoardFixture f;
    uint8_t v = 0;
    ASSERT_TRUE(f.client.read(0xA0, 0x10, v));
    EXPECT_EQ(v, 0xFF);
    ASSERT_TRUE(f.client.write(0xA0, 0x10, 0x00));
    ASSERT_TRUE(f.client.write(0xA0, 0xFF, 0x7E));
    ASSERT_TRUE(f.client.read(0xA0, 0x10, v));
    EXPECT_EQ(v, 0x00);
    ASSERT_TRUE(f.client.read(0xA0, 0xFF, v));
    EXPECT_EQ(v, 0x7E);
    EXPECT_EQ(f.board.reg(0xA0, 0xFF), 0x7E);
}

TEST(Bus, NoDeviceCompletesReadsAllOnesAndDropsWrites)
{
    BoardFixture f;
    for (uint8_t address : {0x00, 0xA2, 0xAC, 0xB0, 0xFF}) {
        uint8_t v = 0;
        ASSERT_TRUE(f.client.write(address, 0x05, 0x12));
        ASSERT_TRUE(f.client.read(address, 0x05, v));
        EXPECT_EQ(v, 0xFF) << int(address);
        EXPECT_EQ(f.board.reg(address, 0x05), 0xFF);
    }
}

// ---- state file -----------------------------------------------------------

TEST(StateFile, RegistersSurviveANewBoard)
{
    TempDir dir("kmui-board");
    kmui::BoardConfig config;
    config.stateFile = dir.file("state");
    {
        BoardFixture f(config);
        ASSERT_TRUE(f.client.write(0xAE, 0x50, 0x03));
        ASSERT_TRUE(f.client.write(0xAE, 0x55, 0x1E));
        ASSERT_TRUE(f.client.write(0xAE, 0x80, 0xA5));
        ASSERT_TRUE(f.client.write(0xAE, 0x19, 0x01));
        ASSERT_TRUE(f.client.write(0xA0, 0x00, 0x42));
    }
    EXPECT_FALSE(halden::test::fileExists(config.stateFile + ".tmp"));
    BoardFixture again(config);
    uint8_t v = 0;
    for (auto [address, reg, value] : {std::tuple{0xAE, 0x50, 0x03}, {0xAE, 0x55, 0x1E}, {0xAE, 0x80, 0xA5},
                                       {0xAE, 0x19, 0x01}, {0xA0, 0x00, 0x42}, {0xA0, 0x01, 0xFF}}) {
        ASSERT_TRUE(again.client.read(uint8_t(address), uint8_t(reg), v));
        EXPECT_EQ(v, value) << std::hex << address << " " << reg;
    }
}

TEST(StateFile, DirectWritesAreKeptToo)
{
    TempDir dir("kmui-board");
    kmui::BoardConfig config;
    config.stateFile = dir.file("state");
    {
        kmui::Board board(config);
        board.setReg(0xAE, 0x60, 0x02);
    }
    kmui::Board board(config);
    EXPECT_EQ(board.reg(0xAE, 0x60), 0x02);
}

TEST(StateFile, DamagedFileGivesFactoryState)
{
    TempDir dir("kmui-board");
    kmui::BoardConfig config;
    config.stateFile = dir.file("state");
    for (const char *content : {"", "garbage\n", "kmui-sim state 1\norvel-ae-registers zz\neeprom-a0 12\n",
                                "kmui-sim state 1\norvel-ae-clock-offset 99999999999999999999\n"}) {
        halden::test::writeFile(config.stateFile, content);
        BoardFixture f(config);
        uint8_t v = 0;
        ASSERT_TRUE(f.client.read(0xAE, 0x00, v));
        EXPECT_EQ(v, 'O');
        ASSERT_TRUE(f.client.read(0xAE, 0x50, v));
        EXPECT_EQ(v, 0x00);
        ASSERT_TRUE(f.client.read(0xA0, 0x00, v));
        EXPECT_EQ(v, 0xFF);
        ASSERT_TRUE(f.client.read(0xAE, 0x25, v));
        EXPECT_GE(v, 20);  // the clock still runs from the host clock
    }
}

TEST(StateFile, UnwritableFileDoesNotStopTheBoard)
{
    kmui::BoardConfig config;
    config.stateFile = "/nonexistent-folder/kmui.state";
    BoardFixture f(config);
    ASSERT_TRUE(f.client.write(0xAE, 0x80, 0x11));
    EXPECT_EQ(f.board.reg(0xAE, 0x80), 0x11);
}
