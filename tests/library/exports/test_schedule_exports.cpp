// Schedule blocks: register order, byte mapping and partial failures.
#include <cstring>

#include "library_fixture.h"

namespace orvel::test {
namespace {

using GetFn = int32_t (*)(ScheduleRecord *);
using SetFn = int32_t (*)(const ScheduleRecord *);

struct GetCase {
    const char *name;
    GetFn get;
    uint8_t base;
};

class ScheduleGetTest : public LibraryTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(ScheduleGetTest, ReadsTheBlockInRegisterOrderIntoTheRecord)
{
    const GetCase &c = GetParam();
    openVerified();
    const uint8_t regs[6] = {0x03, 0x7F, 6, 30, 22, 45};  // flags, days, on h:m, off h:m
    for (int i = 0; i < 6; ++i)
        board().setReg(0xAE, uint8_t(c.base + i), regs[i]);

    ScheduleRecord record{};
    EXPECT_EQ(c.get(&record), ORVL_OK);
    EXPECT_EQ(record.onHour, 6);
    EXPECT_EQ(record.onMinute, 30);
    EXPECT_EQ(record.offHour, 22);
    EXPECT_EQ(record.offMinute, 45);
    EXPECT_EQ(record.enableFlags, 0x03);
    EXPECT_EQ(record.activeDays, 0x7F);
    std::vector<Transaction> expected;
    for (int i = 0; i < 6; ++i)
        expected.push_back(rd(uint8_t(c.base + i)));
    EXPECT_EQ(transactions(), expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, ScheduleGetTest,
                         ::testing::Values(GetCase{"Block1", ORVL_GetSchedule1, 0x30},
                                           GetCase{"Block2", ORVL_GetSchedule2, 0x40},
                                           GetCase{"Block3", ORVL_GetSchedule3, 0x50},
                                           GetCase{"Block4", ORVL_GetSchedule4, 0x60}),
                         [](const auto &info) { return std::string(info.param.name); });

struct SetCase {
    const char *name;
    SetFn set;
    GetFn get;
    uint8_t base;
};

class ScheduleSetTest : public LibraryTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(ScheduleSetTest, WritesFlagsDaysThenTimesAndReadsThemBack)
{
    const SetCase &c = GetParam();
    openVerified();
    const ScheduleRecord record{7, 15, 23, 59, 0x02, 0x41};

    EXPECT_EQ(c.set(&record), ORVL_OK);
    const std::vector<Transaction> expected = {wr(c.base, 0x02),      wr(c.base + 1, 0x41), wr(c.base + 2, 7),
                                               wr(c.base + 3, 15), wr(c.base + 4, 23),   wr(c.base + 5, 59)};
    EXPECT_EQ(transactions(), expected);

    ScheduleRecord back{};
    EXPECT_EQ(c.get(&back), ORVL_OK);
    EXPECT_EQ(std::memcmp(&back, &record, sizeof record), 0);
}

INSTANTIATE_TEST_SUITE_P(Blocks, ScheduleSetTest,
                         ::testing::Values(SetCase{"Block3", ORVL_SetSchedule3, ORVL_GetSchedule3, 0x50},
                                           SetCase{"Block4", ORVL_SetSchedule4, ORVL_GetSchedule4, 0x60}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, ScheduleSetTimingOutOnTheThirdWriteKeepsTheFirstTwo)
{
    openVerified();
    for (int i = 0; i < 6; ++i)
        board().setReg(0xAE, uint8_t(0x50 + i), 0x11);
    // After two transactions the firmware never reports ready again.
    fake().swallow = [this](const Request &r) {
        return r.function() == kReadyQuery && fake().countCalls(kStart) >= 2;
    };

    const ScheduleRecord record{1, 2, 3, 4, 0x03, 0x05};
    EXPECT_EQ(ORVL_SetSchedule3(&record), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(board().reg(0xAE, 0x50), 0x03);
    EXPECT_EQ(board().reg(0xAE, 0x51), 0x05);
    for (int i = 2; i < 6; ++i)
        EXPECT_EQ(board().reg(0xAE, uint8_t(0x50 + i)), 0x11) << i;
    EXPECT_EQ(fake().countCalls(kStart), 2u);
}

TEST_F(LibraryTest, ScheduleGetStoresTheFailingByteAndLeavesLaterOnes)
{
    openVerified();
    board().setReg(0xAE, 0x50, 0x01);
    board().setReg(0xAE, 0x51, 0x02);
    // The third read (register 0x52, record byte 0) never finishes.
    fake().swallow = [this](const Request &r) {
        return r.function() == kDoneQuery && fake().countCalls(kStart) >= 3;
    };

    ScheduleRecord record{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    EXPECT_EQ(ORVL_GetSchedule3(&record), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(record.enableFlags, 0x01);
    EXPECT_EQ(record.activeDays, 0x02);
    EXPECT_EQ(record.onHour, 0xFF);
    EXPECT_EQ(record.onMinute, 0xA2);
    EXPECT_EQ(record.offHour, 0xA3);
    EXPECT_EQ(record.offMinute, 0xA4);
}

} // namespace
} // namespace orvel::test
