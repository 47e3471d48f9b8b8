#include "orvel_api.h"
#include "orvel_controller.h"

#include "debug_capture.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

namespace {

// A library of fakes, looked up by name like the platform's resolver does.
struct FakeLibrary {
    static int32_t openResult;
    static int opens;
    static ScheduleRecord schedule3;
    static ScheduleRecord written[5];
    static int writes;

    static int32_t ORVL_CALL open() { ++opens; return openResult; }
    static int32_t ORVL_CALL get3(ScheduleRecord *r) { *r = schedule3; return ORVL_OK; }
    // Fails without touching the record, as a failing read may do.
    static int32_t ORVL_CALL get4Fails(ScheduleRecord *) { return ORVL_ERR_TIMEOUT; }
    static int32_t ORVL_CALL set3(const ScheduleRecord *r) { written[3] = *r; ++writes; return ORVL_OK; }
    static int32_t ORVL_CALL set4(const ScheduleRecord *r) { written[4] = *r; ++writes; return ORVL_OK; }

    static std::map<std::string, void *> &symbols()
    {
        static std::map<std::string, void *> table;
        return table;
    }
    static void *resolve(void *, const char *name)
    {
        const auto it = symbols().find(name);
        return it == symbols().end() ? nullptr : it->second;
    }
    static void reset()
    {
        openResult = ORVL_OK;
        opens = 0;
        writes = 0;
        schedule3 = ScheduleRecord {6, 45, 22, 15, 3, 127};
        std::memset(written, 0, sizeof written);
        symbols() = {
            {"ORVL_OpenInterface", reinterpret_cast<void *>(&open)},
            {"ORVL_GetSchedule3", reinterpret_cast<void *>(&get3)},
            {"ORVL_GetSchedule4", reinterpret_cast<void *>(&get4Fails)},
            {"ORVL_SetSchedule3", reinterpret_cast<void *>(&set3)},
            {"ORVL_SetSchedule4", reinterpret_cast<void *>(&set4)},
        };
    }
};
int32_t FakeLibrary::openResult;
int FakeLibrary::opens;
ScheduleRecord FakeLibrary::schedule3;
ScheduleRecord FakeLibrary::written[5];
int FakeLibrary::writes;

class TamselOrvelBinding : public ::testing::Test {
protected:
    void SetUp() override { FakeLibrary::reset(); }
    OrvelApi bind()
    {
        OrvelApi api;
        static int handle;
        resolveOrvel(api, &handle, &FakeLibrary::resolve);
        return api;
    }
};

TEST_F(TamselOrvelBinding, ResolvesByNameAndLeavesMissingNull)
{
    const OrvelApi api = bind();
    EXPECT_NE(api.openInterface, nullptr);
    EXPECT_NE(api.setSchedule4, nullptr);
    EXPECT_EQ(api.getRtc, nullptr);
    EXPECT_EQ(api.setMiscCtrl, nullptr);
}

TEST_F(TamselOrvelBinding, OpenAndReadSchedules)
{
    OrvelController controller(bind());
    DebugCapture debug;
    ASSERT_TRUE(controller.open());
    EXPECT_TRUE(debug.lines.isEmpty());
    ScheduleRecord record {};
    EXPECT_TRUE(controller.readSchedule(1, record));
    EXPECT_TRUE(record == FakeLibrary::schedule3);
    // A read that fails without filling the record gives zeros, not stray
    // bytes, and says it failed.
    EXPECT_FALSE(controller.readSchedule(2, record));
    EXPECT_TRUE(record == (ScheduleRecord {0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(controller.readSchedule(7, record));
    EXPECT_TRUE(record == (ScheduleRecord {0, 0, 0, 0, 0, 0}));
}

TEST_F(TamselOrvelBinding, WritesSlotsToSchedulesThreeAndFour)
{
    OrvelController controller(bind());
    ASSERT_TRUE(controller.open());
    controller.writeSchedule(1, ScheduleRecord {8, 30, 18, 0, 3, 62});
    controller.writeSchedule(2, ScheduleRecord {1, 2, 3, 4, 1, 5});
    EXPECT_TRUE(FakeLibrary::written[3] == (ScheduleRecord {8, 30, 18, 0, 3, 62}));
    EXPECT_TRUE(FakeLibrary::written[4] == (ScheduleRecord {1, 2, 3, 4, 1, 5}));
}

TEST_F(TamselOrvelBinding, OpenFailureIsLoggedAndMakesLibraryUnavailable)
{
    FakeLibrary::openResult = ORVL_ERR_NO_SESSION;
    OrvelController controller(bind());
    DebugCapture debug;
    EXPECT_FALSE(controller.open());
    EXPECT_EQ(debug.lines, QStringList {QStringLiteral("ORVL_OpenInterface failed")});
    EXPECT_FALSE(controller.canWriteSchedule(1));
    controller.writeSchedule(1, ScheduleRecord {});
    EXPECT_EQ(FakeLibrary::writes, 0);
}

// A library lacking an entry point is never called through it.
struct MissingCase {
    const char *name;
    const char *missing;
    bool opens;
    bool canWrite1;
    bool canWrite2;
};

class MissingEntry : public TamselOrvelBinding, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingEntry, TreatedAsUnavailableForWhatIsMissing)
{
    const MissingCase &c = GetParam();
    FakeLibrary::symbols().erase(c.missing);
    OrvelController controller(bind());
    EXPECT_EQ(controller.open(), c.opens);
    EXPECT_EQ(controller.canWriteSchedule(1), c.canWrite1);
    EXPECT_EQ(controller.canWriteSchedule(2), c.canWrite2);
    ScheduleRecord slot1 {};
    controller.readSchedule(1, slot1);
    if (std::string(c.missing) == "ORVL_GetSchedule3" || !c.opens) {
        EXPECT_TRUE(slot1 == (ScheduleRecord {0, 0, 0, 0, 0, 0}));
    }
    controller.writeSchedule(1, ScheduleRecord {1, 1, 1, 1, 1, 1});
    controller.writeSchedule(2, ScheduleRecord {2, 2, 2, 2, 2, 2});
    EXPECT_EQ(FakeLibrary::writes, int(c.canWrite1) + int(c.canWrite2));
}

INSTANTIATE_TEST_SUITE_P(TamselLibrary, MissingEntry,
                         ::testing::Values(MissingCase {"OpenInterface", "ORVL_OpenInterface", false, false, false},
                                           MissingCase {"GetSchedule3", "ORVL_GetSchedule3", true, true, true},
                                           MissingCase {"SetSchedule3", "ORVL_SetSchedule3", true, false, true},
                                           MissingCase {"SetSchedule4", "ORVL_SetSchedule4", true, true, false}),
                         [](const ::testing::TestParamInfo<MissingCase> &info) { return info.param.name; });

TEST(TamselOrvelController, WithoutLibraryNothingIsCalled)
{
    OrvelController controller {OrvelApi()};
    EXPECT_FALSE(controller.open());
    EXPECT_FALSE(controller.canWriteSchedule(1));
    ScheduleRecord record {1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(controller.readSchedule(1, record));
    EXPECT_TRUE(record == (ScheduleRecord {0, 0, 0, 0, 0, 0}));
    controller.writeSchedule(1, ScheduleRecord {});
}

} // namespace
