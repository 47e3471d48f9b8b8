// The agent as a real process: a broker on a free loopback port, the simulated
// board in its own runtime folder, a pseudo-terminal as the EDID emulator.
#include "command_message.h"
#include "kmui_sim_process.h"
#include "mosquitto_broker.h"
#include "pty.h"
#include "run_program.h"
#include "tamsel_process.h"
#include "temp_dir.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {

using namespace halden::test;

const char topic[] = "site/board7";
const char pwd[] = "s3cret";
const char handledLine[] = "slot_mtsBranchReceived::topic = site/board7";

struct Schedule {
    int onHour = -1, onMinute = -1, offHour = -1, offMinute = -1, enableFlags = -1, activeDays = -1;
    bool operator==(const Schedule &o) const
    {
        return onHour == o.onHour && onMinute == o.onMinute && offHour == o.offHour && offMinute == o.offMinute &&
               enableFlags == o.enableFlags && activeDays == o.activeDays;
    }
};

std::ostream &operator<<(std::ostream &out, const Schedule &s)
{
    return out << s.onHour << ":" << s.onMinute << "-" << s.offHour << ":" << s.offMinute << " flags "
               << s.enableFlags << " days " << s.activeDays;
}

class TamselEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.running()) << broker.outputText();
        ASSERT_TRUE(sim.start()) << sim.error();
        ASSERT_TRUE(pty.ok());
        writeFile(work.file("tamsel.ini"), std::string("[General]\nHost=127.0.0.1\nPort=") +
                                               std::to_string(broker.port()) + "\nTopicToken=" + topic +
                                               "\nPwd=" + pwd + "\nEdidSerialPort=" + pty.slavePath() + "\n");
    }

    std::vector<std::string> agentEnv() const
    {
        return {"QT_QPA_PLATFORM=offscreen", "KMUI_RUNTIME_DIR=" + sim.runtimeDir(),
                "XDG_RUNTIME_DIR=" + runtime.path()};
    }

    // Started and subscribed to the topic, or a failed assertion.
    void startAgent(TamselProcess &agent)
    {
        const size_t before = broker.countInLog("Received SUBSCRIBE");
        ASSERT_TRUE(agent.start());
        const auto begin = std::chrono::steady_clock::now();
        bool subscribed = false;
        while (!subscribed && std::chrono::steady_clock::now() - begin < std::chrono::seconds(20) && agent.running()) {
            subscribed = broker.countInLog("Received SUBSCRIBE") > before;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::printf("agent subscribed %lld ms after start\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - begin)
                                               .count()));
        ASSERT_TRUE(subscribed) << agent.errText() << broker.logText();
    }

    Schedule readSchedule(int number) const
    {
        const ProgramResult r = runProgram({HALDEN_BIN_DIR "/orvelctl", "--json", "schedule", "get",
                                            std::to_string(number)},
                                           {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()}, 20000);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
        Schedule s;
        s.onHour = o.value("onHour").toInt(-1);
        s.onMinute = o.value("onMinute").toInt(-1);
        s.offHour = o.value("offHour").toInt(-1);
        s.offMinute = o.value("offMinute").toInt(-1);
        s.enableFlags = o.value("enableFlags").toInt(-1);
        s.activeDays = o.value("activeDays").toInt(-1);
        return s;
    }

    // Sends an EDID command and waits for its 36 bytes on the line.
    bool passBarrier()
    {
        if (!mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()))
            return false;
        return pty.read(36, 15000).size() == 36;
    }

    static std::string slotCommand(const char *name, const SlotValues &slot, const char *password)
    {
        return composeSlotCommand(QString::fromLatin1(name), slot, QString::fromLatin1(password)).toStdString();
    }

    static void expectCleanRun(const TamselProcess &agent)
    {
        const std::string err = agent.errText();
        EXPECT_EQ(err.find("AddressSanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    }

    TempDir work {"tamsel-e2e"};
    TempDir runtime {"tamsel-rt"};
    MosquittoBroker broker;
    KmuiSimProcess sim;
    Pty pty;
};

SlotValues slotValues(int days, bool on, int onHour, int onMinute, bool off, int offHour, int offMinute)
{
    SlotValues v;
    v.activeDay = static_cast<quint16>(days);
    v.pwrOnEnable = on;
    v.pwrOnHour = static_cast<quint8>(onHour);
    v.pwrOnMinute = static_cast<quint8>(onMinute);
    v.pwrOffEnable = off;
    v.pwrOffHour = static_cast<quint8>(offHour);
    v.pwrOffMinute = static_cast<quint8>(offMinute);
    return v;
}

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
