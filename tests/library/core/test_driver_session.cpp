// Opening and closing the driver: the session, the service fallback and the
// names chosen under WOW64.
#include "library_fixture.h"

namespace orvel::test {
namespace {

TEST_F(LibraryTest, OpenUsesTheDeviceExclusivelyWhenItIsThere)
{
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(fake().opens.size(), 1u);
    EXPECT_EQ(fake().opens[0].device, "\\\\.\\KMUI32_1K");
    EXPECT_EQ(fake().opens[0].shared, 0);
    EXPECT_TRUE(fake().installs.empty());
}

TEST_F(LibraryTest, SecondOpenRescansAndRechecksOnTheSameHandle)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    clearRecords();

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_TRUE(fake().opens.empty());
    EXPECT_TRUE(fake().closes.empty());
    EXPECT_EQ(fake().physicalReads(), size_t(0x8A4 + 1));
    EXPECT_EQ(fake().countCalls(0), 1u);  // the check
    EXPECT_EQ(fake().debugLines.size(), 2u);
}

struct ServiceCase {
    const char *name;
    bool wow64;
    const char *device;
    const char *service;
};

class ServiceFallbackTest : public LibraryTest, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(ServiceFallbackTest, InstallsStartsAndReopensSharedThenRemovesAtClose)
{
    const ServiceCase &c = GetParam();
    fake().wow64 = c.wow64;
    fake().exclusiveOpenWorks = false;

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(fake().opens.size(), 2u);
    EXPECT_EQ(fake().opens[0].device, c.device);
    EXPECT_EQ(fake().opens[0].shared, 0);
    EXPECT_EQ(fake().opens[1].device, c.device);
    EXPECT_EQ(fake().opens[1].shared, 1);
    EXPECT_EQ(fake().installs, std::vector<std::string>{c.service});
    EXPECT_EQ(fake().wow64Questions, 3);  // before each open step

    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(fake().closes, std::vector<intptr_t>{FakePlatform::kHandle});
    EXPECT_EQ(fake().removals, std::vector<std::string>{c.service});
    EXPECT_EQ(fake().wow64Questions, 4);
}

INSTANTIATE_TEST_SUITE_P(Names, ServiceFallbackTest,
                         ::testing::Values(ServiceCase{"Native", false, "\\\\.\\KMUI32_1K", "KMUI32_1K"},
                                           ServiceCase{"Wow64", true, "\\\\.\\KMUI64_1K", "KMUI64"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, ServiceStopFailureIsNotReported)
{
    fake().exclusiveOpenWorks = false;
    fake().stopWorks = false;
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(fake().removals.size(), 1u);
}

TEST_F(LibraryTest, FirstOpenFailingKeepsTheSessionAndLaterCallsTryNoOpen)
{
    fake().exclusiveOpenWorks = false;
    fake().installWorks = false;

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(fake().opens.size(), 1u);
    EXPECT_EQ(fake().installs.size(), 1u);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(fake().debugLines.empty());
    clearRecords();

    // The session stays: no second open, the scan sends nothing, the check
    // sees EBX = 0.
    fake().exclusiveOpenWorks = true;
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NOT_VERIFIED);
    EXPECT_TRUE(fake().opens.empty());
    EXPECT_TRUE(fake().requests.empty());
    ASSERT_EQ(fake().debugLines.size(), 2u);
    EXPECT_EQ(fake().debugLines[1], "EAX=0x00000000, EBX=0x00000000, ECX=0x00000000, EDX=0x00000000,\n");

    // Only close and a new open bring the device back.
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(fake().closes.empty());
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
}

TEST_F(LibraryTest, SharedReopenFailingAfterInstallReturnsOneAndCloseRemovesTheService)
{
    fake().exclusiveOpenWorks = false;
    fake().sharedOpenWorks = false;

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(fake().opens.size(), 2u);
    EXPECT_EQ(fake().installs.size(), 1u);

    // No device is held, but this session installed the service: the close
    // step stops and removes it (it closes no handle).
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(fake().closes.empty());
    EXPECT_EQ(fake().removals, fake().installs);
    // Once only.
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(fake().removals.size(), 1u);
}

TEST_F(LibraryTest, TransactionsOnAClosedDeviceRunOutOnceVerifiedBefore)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);
    fake().exclusiveOpenWorks = false;
    fake().installWorks = false;
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    clearRecords();

    uint8_t value = 0x5A;
    EXPECT_EQ(ORVL_SMBusRead(0xAE, 0x19, &value), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_EQ(fake().pauses.size(), 99u);
}

TEST_F(LibraryTest, CloseWithoutSessionReturnsZeroAndDoesNothing)
{
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(fake().closes.empty());
    EXPECT_TRUE(fake().removals.empty());
    EXPECT_EQ(fake().wow64Questions, 0);
}

TEST_F(LibraryTest, CloseClosesTheHandleOnceAndEndsTheSession)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(fake().closes, std::vector<intptr_t>{FakePlatform::kHandle});
    EXPECT_TRUE(fake().removals.empty());  // this session installed nothing
    EXPECT_EQ(state().session, nullptr);

    uint8_t value = 0;
    EXPECT_EQ(ORVL_SMBusRead(0xAE, 0x19, &value), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(fake().closes.size(), 1u);
}

TEST_F(LibraryTest, ReopenAfterCloseOpensTheDeviceAgain)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(fake().opens.size(), 2u);
}

} // namespace
} // namespace orvel::test
