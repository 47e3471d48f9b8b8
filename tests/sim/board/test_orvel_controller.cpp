// The Orvel controller's registers as a firmware-run transaction sees them,
// and its clock under a host clock the test controls.
#include "firmware_client.h"
#include "kmui_board.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <ctime>

using halden::test::FirmwareClient;

namespace {

constexpr uint8_t kOrvel = 0xAE;

struct ControllerFixture {
    explicit ControllerFixture(std::time_t *now, std::string stateFile = {})
        : board([&] {
              kmui::BoardConfig c;
              c.now = [now] { return *now; };
              c.stateFile = std::move(stateFile);
              return c;
          }()),
          client([this](uint32_t code, std::vector<uint8_t> &b) { board.handleRequest(code, b.data(), b.size()); })
    {
    }
    uint8_t read(uint8_t reg)
    {
        uint8_t v = 0xEE;
        EXPECT_TRUE(client.read(kOrvel, reg, v));
        return v;
    }
    void write(uint8_t reg, uint8_t value) { EXPECT_TRUE(client.write(kOrvel, reg, value)); }
    std::array<int, 6> clock()
    {
        std::array<int, 6> c{};
        for (int i = 0; i < 6; ++i)
            c[i] = read(uint8_t(0x20 + i));
        return c;
    }
    void setClock(std::array<int, 6> c)
    {
        for (int i = 0; i < 6; ++i)
            write(uint8_t(0x20 + i), uint8_t(c[i]));
    }

    kmui::Board board;
    FirmwareClient client;
};

std::time_t utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

using Clock = std::array<int, 6>;  // second, minute, hour, day, month, year - 2000

} // namespace

struct RegisterCase {
    uint8_t reg;
    uint8_t initial;   // as read over the bus
    uint8_t written;
    uint8_t afterRead; // bus read after the write
    uint8_t afterReg;  // direct look after the write
};

class RegisterMap : public testing::TestWithParam<RegisterCase> {};

TEST_P(RegisterMap, ReadsAndWritesAsMapped)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    const RegisterCase &c = GetParam();
    EXPECT_EQ(f.read(c.reg), c.initial);
    f.write(c.reg, c.written);
    EXPECT_EQ(f.read(c.reg), c.afterRead);
    EXPECT_EQ(f.board.reg(kOrvel, c.reg), c.afterReg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegisterMap,
    testing::Values(RegisterCase{0x00, 'O', 'X', 'O', 'O'},        // version text is read only
                    RegisterCase{0x0C, '0', 'X', '0', '0'},
                    RegisterCase{0x0D, 0x00, 'X', 0x00, 0x00},     // its terminator
                    RegisterCase{0x0F, 0x00, 'X', 0x00, 0x00},
                    RegisterCase{0x18, 0x0F, 0x00, 0x0F, 0x0F},    // feature bitmap, read only
                    RegisterCase{0x19, 0x00, 0x01, 0x01, 0x01},    // control
                    RegisterCase{0x30, 0x00, 0x03, 0x03, 0x03},    // factory schedule 1
                    RegisterCase{0x31, 0x3E, 0x41, 0x41, 0x41},
                    RegisterCase{0x42, 7, 6, 6, 6},                // factory schedule 2
                    RegisterCase{0x44, 19, 20, 20, 20},
                    RegisterCase{0x50, 0x00, 0x03, 0x03, 0x03},    // schedule 3
                    RegisterCase{0x55, 0x00, 45, 45, 45},
                    RegisterCase{0x60, 0x00, 0x01, 0x01, 0x01},    // schedule 4
                    RegisterCase{0x65, 0x00, 59, 59, 59},
                    RegisterCase{0x80, 0x00, 0xA5, 0xA5, 0xA5},    // miscellaneous control
                    RegisterCase{0x81, 0x00, 0x10, 0x00, 0x10},    // tick: write only
                    RegisterCase{0x1A, 0x00, 0x77, 0x00, 0x00},    // unmapped
                    RegisterCase{0x36, 0x00, 0x77, 0x00, 0x00},
                    RegisterCase{0x66, 0x00, 0x77, 0x00, 0x00},
                    RegisterCase{0xFF, 0x00, 0x77, 0x00, 0x00}),
    [](const auto &info) { return "Reg" + std::to_string(info.param.reg); });

TEST(OrvelVersion, ReadsAsTheZeroEndedText)
{
    std::time_t now = 0;
    ControllerFixture f(&now);
    std::string text;
    for (uint8_t i = 0; i < 16; ++i) {
        uint8_t c = f.read(i);
        if (!c)
            break;
        text += char(c);
    }
    EXPECT_EQ(text, "ORVEL SIM 1.0");
}

TEST(OrvelClock, RunsFromTheHostClock)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    EXPECT_EQ(f.clock(), (Clock{15, 30, 21, 9, 12, 26}));
    now += 24 * 3600 * 23 + 45;  // across the year's end
    EXPECT_EQ(f.clock(), (Clock{0, 31, 21, 1, 1, 27}));
}

TEST(OrvelClock, HoldFreezesTheReadingWhileTheClockRunsOn)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    f.write(0x19, 0x08 | 0x01);
    now += 100;
    EXPECT_EQ(f.clock(), (Clock{15, 30, 21, 9, 12, 26}));
    EXPECT_EQ(f.read(0x19), 0x09);
    f.write(0x19, 0x01);
    EXPECT_EQ(f.clock(), (Clock{55, 31, 21, 9, 12, 26}));
}

TEST(OrvelClock, WritesUnderHoldTakeEffectOnRelease)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    f.write(0x19, 0x08);
    f.setClock({0, 0, 8, 1, 1, 25});
    now += 7;
    EXPECT_EQ(f.clock(), (Clock{0, 0, 8, 1, 1, 25}));
    f.write(0x19, 0x00);
    EXPECT_EQ(f.clock(), (Clock{0, 0, 8, 1, 1, 25}));
    now += 10;
    EXPECT_EQ(f.clock(), (Clock{10, 0, 8, 1, 1, 25}));
}

TEST(OrvelClock, SingleWriteWithoutHoldSetsThatField)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    f.write(0x22, 5);
    EXPECT_EQ(f.clock(), (Clock{15, 30, 5, 9, 12, 26}));
    now += 1;
    EXPECT_EQ(f.read(0x20), 16);
}

TEST(OrvelClock, OutOfRangeFieldsRollOver)
{
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    ControllerFixture f(&now);
    f.write(0x19, 0x08);
    f.setClock({0, 0, 0, 31, 13, 25});  // month 13 of 2025 is January 2026
    f.write(0x19, 0x00);
    EXPECT_EQ(f.clock(), (Clock{0, 0, 0, 31, 1, 26}));
}

TEST(OrvelClock, SetTimeSurvivesARestart)
{
    halden::test::TempDir dir("kmui-clock");
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    {
        ControllerFixture f(&now, dir.file("state"));
        f.write(0x19, 0x08);
        f.setClock({0, 0, 8, 1, 1, 25});
        f.write(0x19, 0x00);
    }
    now += 60;
    ControllerFixture again(&now, dir.file("state"));
    EXPECT_EQ(again.clock(), (Clock{0, 1, 8, 1, 1, 25}));
}

TEST(OrvelClock, HoldSurvivesARestart)
{
    halden::test::TempDir dir("kmui-clock");
    std::time_t now = utc(2026, 12, 9, 21, 30, 15);
    {
        ControllerFixture f(&now, dir.file("state"));
        f.write(0x19, 0x08);
    }
    now += 60;
    ControllerFixture again(&now, dir.file("state"));
    EXPECT_EQ(again.clock(), (Clock{15, 30, 21, 9, 12, 26}));
    again.write(0x19, 0x00);
    EXPECT_EQ(again.clock(), (Clock{15, 31, 21, 9, 12, 26}));
}
