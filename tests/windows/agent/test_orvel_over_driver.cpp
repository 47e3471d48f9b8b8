// The agent's way to the controller on Windows, end to end: "ORVEL.DLL"
// bound from beside the program, the session opened through the Win32
// platform, the slots written and read back through the KMUI test driver.
#include <gtest/gtest.h>

#include <cstring>

#include "orvel_api.h"
#include "orvel_controller.h"
#include "test_driver_install.h"

namespace {

class AgentOverDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(win_test::installTestDriver()) << "the KMUI test driver could not be registered";
        ASSERT_TRUE(bindOrvel(api));
    }
    void TearDown() override
    {
        // The agent keeps its session to the end; the test closes it so
        // that the driver can be stopped and removed.
        if (api.closeInterface)
            api.closeInterface();
        win_test::removeTestDriver();
    }
    OrvelApi api;
};

TEST_F(AgentOverDriverTest, OpensTheSessionAndKeepsBothSlotsInTheController)
{
    OrvelController controller(api);
    ASSERT_TRUE(controller.open());
    EXPECT_TRUE(controller.canWriteSchedule(1));
    EXPECT_TRUE(controller.canWriteSchedule(2));

    const ScheduleRecord slot1 = {8, 15, 18, 45, 3, 0x3E};
    const ScheduleRecord slot2 = {0, 0, 23, 59, 2, 0x41};
    controller.writeSchedule(1, slot1);
    controller.writeSchedule(2, slot2);

    ScheduleRecord back1 {}, back2 {};
    EXPECT_TRUE(controller.readSchedule(1, back1));
    EXPECT_TRUE(controller.readSchedule(2, back2));
    EXPECT_EQ(0, std::memcmp(&back1, &slot1, sizeof slot1));
    EXPECT_EQ(0, std::memcmp(&back2, &slot2, sizeof slot2));
}

} // namespace
