#pragma once
// The agent as a real process, for the end-to-end and fault tests: a broker on
// a free loopback port, the simulated board in its own runtime folder, a
// pseudo-terminal as the EDID emulator, and the agent's settings file.
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

namespace halden::test::tamsel {

inline const char topic[] = "site/board7";
inline const char pwd[] = "s3cret";
inline const char handledLine[] = "slot_mtsBranchReceived::topic = site/board7";

struct Schedule {
    int onHour = -1, onMinute = -1, offHour = -1, offMinute = -1, enableFlags = -1, activeDays = -1;
    bool operator==(const Schedule &o) const
    {
        return onHour == o.onHour && onMinute == o.onMinute && offHour == o.offHour && offMinute == o.offMinute &&
               enableFlags == o.enableFlags && activeDays == o.activeDays;
    }
};

inline std::ostream &operator<<(std::ostream &out, const Schedule &s)
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

inline SlotValues slotValues(int days, bool on, int onHour, int onMinute, bool off, int offHour, int offMinute)
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

} // namespace halden::test::tamsel
