// The agent's binding of "ORVEL.DLL" on Windows: LoadLibraryW by the bare name
// finds the library beside the program, GetProcAddress resolves the seventeen
// names. Built twice more beside stand-in libraries that each lack one entry
// point (ORVEL_STAND_IN_LACKS names it): that entry stays null, and the agent
// never calls through it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>
#include <windows.h>

#include "orvel_api.h"
#include "orvel_controller.h"

namespace {

#ifdef ORVEL_STAND_IN_LACKS
const std::string kMissing = ORVEL_STAND_IN_LACKS;
#else
const std::string kMissing;
#endif

// The agent's seventeen entries by the names they are resolved under.
std::vector<std::pair<std::string, void *>> entries(const OrvelApi &api)
{
    return {
        {"ORVL_OpenInterface", reinterpret_cast<void *>(api.openInterface)},
        {"ORVL_CloseInterface", reinterpret_cast<void *>(api.closeInterface)},
        {"ORVL_GetVersionString", reinterpret_cast<void *>(api.getVersionString)},
        {"ORVL_GetFeatureBitmap", reinterpret_cast<void *>(api.getFeatureBitmap)},
        {"ORVL_GetRTC", reinterpret_cast<void *>(api.getRtc)},
        {"ORVL_SetRTC", reinterpret_cast<void *>(api.setRtc)},
        {"ORVL_GetPwrResume", reinterpret_cast<void *>(api.getPwrResume)},
        {"ORVL_SetPwrResume", reinterpret_cast<void *>(api.setPwrResume)},
        {"ORVL_GetSchedule3", reinterpret_cast<void *>(api.getSchedule3)},
        {"ORVL_SetSchedule3", reinterpret_cast<void *>(api.setSchedule3)},
        {"ORVL_GetSchedule4", reinterpret_cast<void *>(api.getSchedule4)},
        {"ORVL_SetSchedule4", reinterpret_cast<void *>(api.setSchedule4)},
        {"ORVL_SMBusRead", reinterpret_cast<void *>(api.smbusRead)},
        {"ORVL_SMBusWrite", reinterpret_cast<void *>(api.smbusWrite)},
        {"ORVL_SetPwrOnAfterShutdownTick", reinterpret_cast<void *>(api.setPwrOnAfterShutdownTick)},
        {"ORVL_GetMiscCtrl", reinterpret_cast<void *>(api.getMiscCtrl)},
        {"ORVL_SetMiscCtrl", reinterpret_cast<void *>(api.setMiscCtrl)},
    };
}

std::wstring folderOf(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text(path, n);
    for (wchar_t &c : text)
        c = c == L'/' ? L'\\' : wchar_t(towlower(c));
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

class OrvelBindingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bindOrvel(api)); }
    HMODULE library() const { return static_cast<HMODULE>(api.library); }
    OrvelApi api;
};

TEST_F(OrvelBindingTest, LoadsTheLibraryBesideTheProgram)
{
    EXPECT_EQ(library(), GetModuleHandleW(L"ORVEL.DLL"));
    EXPECT_TRUE(folderOf(library()) == folderOf(NULL));
}

TEST_F(OrvelBindingTest, ResolvesEachNameTheLibraryHasAndLeavesTheOthersNull)
{
    const auto resolved = entries(api);
    ASSERT_EQ(resolved.size(), 17u);
    for (const auto &[name, entry] : resolved) {
        SCOPED_TRACE(name);
        if (name == kMissing) {
            EXPECT_EQ(entry, nullptr);
        } else {
            EXPECT_NE(entry, nullptr);
            EXPECT_EQ(entry, reinterpret_cast<void *>(GetProcAddress(library(), name.c_str())));
        }
    }
}

#ifndef ORVEL_STAND_IN_LACKS

TEST_F(OrvelBindingTest, CallsThroughTheResolvedEntriesReachTheLibrary)
{
    // No session here: these answer without touching a driver.
    ScheduleRecord record {};
    EXPECT_EQ(api.getSchedule3(&record), ORVL_ERR_NO_SESSION);
    EXPECT_EQ(api.closeInterface(), ORVL_OK);
}

#else

// Calls the agent made into the stand-in so far.
int standInCalls(HMODULE library)
{
    auto count = reinterpret_cast<int (*)()>(reinterpret_cast<void *>(GetProcAddress(library, "StandInCalls")));
    return count ? count() : -1;
}

TEST_F(OrvelBindingTest, TheAgentTreatsTheMissingEntryAsMissing)
{
    OrvelController controller(api);
    const bool canOpen = kMissing != "ORVL_OpenInterface";
    EXPECT_EQ(controller.open(), canOpen);
    EXPECT_EQ(controller.available(), canOpen);
    EXPECT_EQ(controller.canWriteSchedule(1), canOpen);
    EXPECT_EQ(controller.canWriteSchedule(2), canOpen && kMissing != "ORVL_SetSchedule4");

    const int callsBefore = standInCalls(library());
    const ScheduleRecord record {1, 2, 3, 4, 3, 0x7F};
    controller.writeSchedule(2, record);  // never through a null entry
    EXPECT_EQ(standInCalls(library()), callsBefore);

    // A slot that could not be read shows zeros, one that was read the stand-in's mark.
    ScheduleRecord slot2 {};
    EXPECT_EQ(controller.readSchedule(2, slot2), canOpen);
    EXPECT_EQ(slot2.onHour, canOpen ? 4 : 0);
    EXPECT_EQ(slot2.activeDays, canOpen ? 4 : 0);
}

#endif

} // namespace
