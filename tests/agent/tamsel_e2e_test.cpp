// The agent as a real process: a broker on a free loopback port, the simulated
// board in its own runtime folder, a pseudo-terminal as the EDID emulator.
#include "tamsel_fixture.h"

namespace {

using namespace halden::test;
using namespace halden::test::tamsel;

TEST_F(TamselEndToEnd, ScheduleCommandsReachTheControllerOnlyWithTheRightDigest)
{
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), agentEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;
    EXPECT_NE(agent.errText().find("Serial Port is connected"), std::string::npos) << agent.errText();
    EXPECT_EQ(agent.errText().find("ORVL_OpenInterface failed"), std::string::npos) << agent.errText();

    // The controller is only read once the agent is done with a command: an
    // EDID command after it, whose packets appear on the line, marks the point.
    // (Reading it with orvelctl while the agent writes would interleave two
    // processes' transactions on the one SMBus.)
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slotCommand("SLOT1", slotValues(62, true, 8, 30, true, 18, 0), pwd)));
    ASSERT_TRUE(passBarrier()) << agent.errText();
    std::printf("SLOT1 carried out and EDID barrier passed %lld ms after publishing\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count()));
    const Schedule weekdays {8, 30, 18, 0, 3, 62};
    EXPECT_EQ(readSchedule(3), weekdays);

    // Wrong digest: handled (its two diagnostic lines appear) but not carried out.
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slotCommand("SLOT1", slotValues(1, false, 1, 2, false, 3, 4), "guess")));
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slotCommand("SLOT2", slotValues(65, false, 0, 0, true, 23, 45), pwd)));
    ASSERT_TRUE(passBarrier()) << agent.errText();
    EXPECT_EQ(agent.countInErr(handledLine), 5u);
    EXPECT_EQ(readSchedule(3), weekdays);
    EXPECT_EQ(readSchedule(4), (Schedule {0, 0, 23, 45, 2, 65}));

    EXPECT_TRUE(agent.running());
    expectCleanRun(agent);
}

TEST_F(TamselEndToEnd, EdidCommandPutsTheFourPacketsOnTheLine)
{
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), agentEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;

    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand("guess").toStdString()));
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()));
    const std::string got = pty.read(36, 15000);
    EXPECT_EQ(QByteArray::fromStdString(got).toHex().toStdString(),
              "ffee00000002669400ffee00001002f70100ffee0000200255b700ffee00003002c42200");
    EXPECT_EQ(pty.drain(300), "");
    EXPECT_EQ(agent.countInErr(handledLine), 2u);
    expectCleanRun(agent);
}

TEST_F(TamselEndToEnd, SecondInstanceEndsAtOnce)
{
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), agentEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;

    const auto t0 = std::chrono::steady_clock::now();
    const ProgramResult second = runProgram({HALDEN_BIN_DIR "/Tamsel"}, agentEnv(), 20000);
    std::printf("second instance ended after %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count()));
    EXPECT_EQ(second.exitCode, 255) << second.err;
    EXPECT_TRUE(agent.running());

    // The first one still works.
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()));
    EXPECT_EQ(pty.read(36, 15000).size(), 36u);
}

TEST_F(TamselEndToEnd, WithoutTheLibraryScheduleCommandsAreIgnored)
{
    // The program alone in a folder: no libORVEL.so beside it, none on the search path.
    TempDir bin {"tamsel-bin"};
    const std::string program = bin.file("Tamsel");
    std::filesystem::copy_file(HALDEN_BIN_DIR "/Tamsel", program);
    std::vector<std::string> env = agentEnv();
    env.push_back("LD_LIBRARY_PATH=");

    const Schedule before = readSchedule(3);
    TamselProcess agent(program, work.path(), env);
    startAgent(agent);
    if (HasFatalFailure())
        return;

    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slotCommand("SLOT1", slotValues(127, true, 5, 6, true, 7, 8), pwd)));
    // EDID still works, and its packets show the agent is past the SLOT1 command.
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()));
    EXPECT_EQ(pty.read(36, 15000).size(), 36u);
    EXPECT_EQ(agent.countInErr(handledLine), 2u);
    EXPECT_EQ(readSchedule(3), before);
    EXPECT_TRUE(agent.running());
    expectCleanRun(agent);
}

} // namespace

namespace {

// Without "tamsel.ini" the program waits in the message box (dismissing it is
// covered in-process by TamselMainForm.MissingSettingsShowsBoxThenEnds): it
// neither ends nor fails on its own while the box is up.
TEST_F(TamselEndToEnd, MissingSettingsWaitsInTheMessageBox)
{
    std::filesystem::remove(work.file("tamsel.ini"));
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), agentEnv());
    ASSERT_TRUE(agent.start());
    EXPECT_EQ(agent.waitExit(1500), -1) << agent.errText();
    EXPECT_TRUE(agent.running());
    agent.stop();
    expectCleanRun(agent);
}

} // namespace
