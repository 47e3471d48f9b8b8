// The agent's single-instance guard on Windows: the named mutex, seen by one
// process while another holds it, and free again once the holder has ended.
#include <gtest/gtest.h>

#include <string>
#include <windows.h>

#include "child_process.h"
#include "platform/agent_platform.h"

namespace {

const wchar_t kHolder[] = L"instance_marker_holder.exe";
// The agent's own mutex name: only this test program uses it in its prefix.
const wchar_t kMarker[] = L"972AC980-E833-4012-81CC-DACA54759B37";
const DWORD kAlreadyRunning = DWORD(-1);
const DWORD kBound = 30000;

// Events for one holder process: it sets the first once it holds the marker
// and ends when the second is set.
struct HolderEvents {
    std::wstring readyName, quitName;
    HANDLE ready, quit;
    HolderEvents()
    {
        const std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        readyName = L"halden-holder-ready-" + id;
        quitName = L"halden-holder-quit-" + id;
        ready = CreateEventW(NULL, TRUE, FALSE, readyName.c_str());
        quit = CreateEventW(NULL, TRUE, FALSE, quitName.c_str());
    }
    ~HolderEvents()
    {
        SetEvent(quit);
        CloseHandle(ready);
        CloseHandle(quit);
    }
    std::wstring arguments() const { return std::wstring(kMarker) + L" " + readyName + L" " + quitName; }
};

class InstanceMarkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(win_test::runToExit(kHolder, kMarker), 0u) << "the marker is held before the test";
    }
};

TEST_F(InstanceMarkerTest, ASecondProcessSeesTheFirstAndANewOneStartsAfterItEnds)
{
    HolderEvents events;
    win_test::ChildProcess first(kHolder, events.arguments());
    ASSERT_TRUE(first.started());
    ASSERT_EQ(WaitForSingleObject(events.ready, kBound), WAIT_OBJECT_0);

    EXPECT_EQ(win_test::runToExit(kHolder, kMarker), kAlreadyRunning);
    // Seeing the marker must not disturb its holder.
    DWORD code = 0;
    EXPECT_FALSE(first.waitForExit(0, code));

    SetEvent(events.quit);
    ASSERT_TRUE(first.waitForExit(kBound, code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(win_test::runToExit(kHolder, kMarker), 0u);
}

TEST_F(InstanceMarkerTest, AHolderThatDiesReleasesTheMarker)
{
    HolderEvents events;
    win_test::ChildProcess first(kHolder, events.arguments());
    ASSERT_TRUE(first.started());
    ASSERT_EQ(WaitForSingleObject(events.ready, kBound), WAIT_OBJECT_0);
    EXPECT_EQ(win_test::runToExit(kHolder, kMarker), kAlreadyRunning);

    first.kill();
    EXPECT_EQ(win_test::runToExit(kHolder, kMarker), 0u);
}

TEST_F(InstanceMarkerTest, MarkersOfOtherNamesDoNotCount)
{
    HolderEvents events;
    const std::wstring other = L"halden-other-marker " + events.readyName + L" " + events.quitName;
    win_test::ChildProcess first(kHolder, other);
    ASSERT_TRUE(first.started());
    ASSERT_EQ(WaitForSingleObject(events.ready, kBound), WAIT_OBJECT_0);

    EXPECT_EQ(win_test::runToExit(kHolder, kMarker), 0u);
}

TEST(InstanceMarkerInProcess, MarkerIsHeldUntilReleased)
{
    const agent_platform::Table &os = agent_platform::table();
    const char name[] = "halden-in-process-marker";
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(name);
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(win_test::runToExit(kHolder, L"halden-in-process-marker"), kAlreadyRunning);
    os.releaseInstanceMarker(marker);
    EXPECT_EQ(win_test::runToExit(kHolder, L"halden-in-process-marker"), 0u);
}

} // namespace
