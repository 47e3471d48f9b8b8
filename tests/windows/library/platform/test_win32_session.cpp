// ORVEL.DLL over the real Win32 platform on a system without the KMUI driver:
// the device cannot be opened, the driver's service is installed through the
// service control manager and fails to start. Runs under wine64 in a prefix of
// its own; the tests share that prefix's service database and run one by one.
#include <gtest/gtest.h>

#include <windows.h>

#include "orvel.h"
#include "service_entry.h"

namespace {

// A 64-bit process is not under WOW64, so the 32-bit driver names apply.
const wchar_t kService[] = L"KMUI32_1K";
const wchar_t kDevice[] = L"\\\\.\\KMUI32_1K";
// Someone else's entry, told apart from one the library would make by its path.
const wchar_t kForeignPath[] = L"C:\\halden-test\\KMUI32_1K.SYS";

class Win32SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(win_test::removeServiceEntry(kService)) << "a KMUI32_1K entry is left from before";
        ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);
    }
    void TearDown() override
    {
        ORVL_CloseInterface();
        win_test::removeServiceEntry(kService);
    }
};

TEST_F(Win32SessionTest, ThereIsNoDriverDeviceHere)
{
    HANDLE device = CreateFileW(kDevice, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_EQ(device, INVALID_HANDLE_VALUE);
    if (device != INVALID_HANDLE_VALUE)
        CloseHandle(device);
}

TEST_F(Win32SessionTest, OpenFailsWhenTheDriverCannotStartAndRemovesTheEntryItCreated)
{
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    // The library made the entry only to start the driver; nothing would
    // remove it later, so it is gone as soon as the start failed.
    EXPECT_FALSE(win_test::queryServiceEntry(kService).exists);

    ScheduleRecord record {};
    EXPECT_EQ(ORVL_GetSchedule3(&record), ORVL_ERR_NOT_VERIFIED);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_FALSE(win_test::queryServiceEntry(kService).exists);
}

TEST_F(Win32SessionTest, AnEntryThatWasThereBeforeIsLeftExactlyAsItWas)
{
    ASSERT_TRUE(win_test::createDriverEntry(kService, kForeignPath));
    const win_test::ServiceEntry before = win_test::queryServiceEntry(kService);
    ASSERT_TRUE(before.exists);

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    ScheduleRecord record {};
    EXPECT_EQ(ORVL_GetSchedule4(&record), ORVL_ERR_NOT_VERIFIED);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);

    const win_test::ServiceEntry after = win_test::queryServiceEntry(kService);
    ASSERT_TRUE(after.exists);
    EXPECT_EQ(after.type, DWORD(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(after.startType, before.startType);
    EXPECT_TRUE(after.binaryPath == before.binaryPath);
}

TEST_F(Win32SessionTest, SecondOpenOnTheClosedSessionTriesNoDriverAndFailsTheCheck)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
    // Someone else's entry now: the session must not touch the driver again.
    ASSERT_TRUE(win_test::createDriverEntry(kService, kForeignPath));

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NOT_VERIFIED);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
    EXPECT_TRUE(win_test::queryServiceEntry(kService).exists);
}

TEST_F(Win32SessionTest, RegisterExportsWithoutASessionSayNoSession)
{
    ScheduleRecord record {};
    EXPECT_EQ(ORVL_GetSchedule3(&record), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
}

TEST_F(Win32SessionTest, EachOpenAfterACloseTriesTheDriverAgain)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NO_SESSION);
        EXPECT_EQ(ORVL_CloseInterface(), ORVL_OK);
        EXPECT_FALSE(win_test::queryServiceEntry(kService).exists);
    }
}

} // namespace
