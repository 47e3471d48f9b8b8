#include "platform/agent_platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char markerName[] = "972AC980-E833-4012-81CC-DACA54759B37";

// Each test gets its own runtime folder, so parallel runs never see each other.
class TamselInstanceMarker : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1); }
    halden::test::TempDir runtime {"tamsel-runtime"};
    const agent_platform::Table &os = agent_platform::table();
};

TEST_F(TamselInstanceMarker, SecondInstanceSeesTheFirst)
{
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(markerName);
    ASSERT_NE(marker, nullptr);
    EXPECT_TRUE(os.otherInstanceRunning(markerName));
    EXPECT_FALSE(os.otherInstanceRunning("another-name"));
    os.releaseInstanceMarker(marker);
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
}

TEST_F(TamselInstanceMarker, DiedHolderDoesNotBlockNextStart)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Takes the marker and dies without releasing it.
        _exit(agent_platform::table().createInstanceMarker(markerName) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(halden::test::fileExists(runtime.file(std::string("tamsel-") + markerName + ".lock")));
    EXPECT_FALSE(os.otherInstanceRunning(markerName));
    agent_platform::InstanceMarker *marker = os.createInstanceMarker(markerName);
    EXPECT_NE(marker, nullptr);
    os.releaseInstanceMarker(marker);
}

TEST(TamselOrvelLibraryLoad, AbsentLibraryGivesNull)
{
    // Nothing named libORVEL.so lies beside the test programs.
    const agent_platform::Table &os = agent_platform::table();
    void *library = os.loadOrvelLibrary();
    if (library) {
        GTEST_SKIP() << "a libORVEL.so is on the system search path";
    }
    EXPECT_EQ(os.resolve(nullptr, "ORVL_OpenInterface"), nullptr);
}

} // namespace
