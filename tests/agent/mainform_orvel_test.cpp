// The window with the real controller library beside the test program, the
// simulated board behind it and a real broker in front of it.
#include "mainform.h"

#include "command_message.h"
#include "kmui_sim_process.h"
#include "mosquitto_broker.h"
#include "run_program.h"
#include "temp_dir.h"
#include "test_artifact.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <string>

namespace {

using namespace halden::test;

const char topic[] = "site/board7";

class TamselMainFormWithOrvel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.running());
        ASSERT_TRUE(sim.start()) << sim.error();
        setenv("KMUI_RUNTIME_DIR", sim.runtimeDir().c_str(), 1);
        orvelctl({"schedule", "set", "3", "--raw", "6", "45", "22", "15", "3", "127"});
        orvelctl({"schedule", "set", "4", "--raw", "23", "0", "7", "30", "1", "65"});
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(work.path())));
        writeFile(work.file("tamsel.ini"), "[General]\nHost=127.0.0.1\nPort=" + std::to_string(broker.port()) +
                                               "\nTopicToken=" + topic + "\nPwd=operator\n");
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    std::string orvelctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), HALDEN_BIN_DIR "/orvelctl");
        const ProgramResult r = runProgram(args, {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()}, 20000);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return r.out;
    }

    QJsonObject schedule(int number)
    {
        return QJsonDocument::fromJson(
                   QByteArray::fromStdString(orvelctl({"--json", "schedule", "get", std::to_string(number)})))
            .object();
    }

    static int dayMask(const QList<QCheckBox *> &boxes)
    {
        int mask = 0;
        for (int bit = 0; bit < boxes.size(); ++bit)
            mask |= boxes[bit]->isChecked() ? (1 << bit) : 0;
        return mask;
    }

    MosquittoBroker broker;
    TempDir traceDir {"tamsel-orvel-trace"};
    // Every register write the board makes, one line each ("... write 0xAE 0x50 0x03").
    std::string tracePath() const { return traceDir.file("trace"); }
    KmuiSimProcess sim {{"--trace", traceDir.file("trace")}};
    TempDir work {"tamsel-orvel"};
    QString previousDir;
};

TEST_F(TamselMainFormWithOrvel, ShowsControllerSchedulesAndCarriesOutSlot1)
{
    MainForm form;
    Ui::MainFormClass &ui = form.form();
    ASSERT_TRUE(form.isOrvelAvailable());
    EXPECT_EQ(ui.labORVL->text(), QStringLiteral("Yes"));
    EXPECT_FALSE(ui.gbRTS1ActiveDays->isHidden());
    EXPECT_FALSE(ui.labHSpacer->isHidden());

    // Start-up shows schedule 3 as slot 1 and schedule 4 as slot 2.
    EXPECT_EQ(dayMask({ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed, ui.cbRTS1_Thu, ui.cbRTS1_Fri,
                       ui.cbRTS1_Sat}),
              127);
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(6, 45));
    EXPECT_EQ(ui.tebRTS1_PwrOff->time(), QTime(22, 15));
    EXPECT_TRUE(ui.gbRTS1_PwrOn->isChecked());
    EXPECT_TRUE(ui.gbRTS1_PwrOff->isChecked());
    EXPECT_EQ(dayMask({ui.cbRTS2_Sun, ui.cbRTS2_Mon, ui.cbRTS2_Tue, ui.cbRTS2_Wed, ui.cbRTS2_Thu, ui.cbRTS2_Fri,
                       ui.cbRTS2_Sat}),
              65);
    EXPECT_EQ(ui.tebRTS2_PwrOn->time(), QTime(23, 0));
    EXPECT_EQ(ui.tebRTS2_PwrOff->time(), QTime(7, 30));
    EXPECT_TRUE(ui.gbRTS2_PwrOn->isChecked());
    EXPECT_FALSE(ui.gbRTS2_PwrOff->isChecked());

    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.labMessageStatus->text() == QStringLiteral("Connected"); }, 10000))
        << ui.labMessageStatus->text().toStdString();
    // Subscribed once the broker has seen the SUBSCRIBE.
    ASSERT_TRUE(QTest::qWaitFor([&] { return broker.countInLog("Received SUBSCRIBE") > 0; }, 10000));

    SlotValues slot;
    slot.activeDay = 62;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = 8;
    slot.pwrOnMinute = 30;
    slot.pwrOffEnable = true;
    slot.pwrOffHour = 18;
    ASSERT_TRUE(mosquittoPublish(
        broker.port(), topic,
        composeSlotCommand(QStringLiteral("SLOT1"), slot, QStringLiteral("operator")).toStdString()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.tebRTS1_PwrOn->time() == QTime(8, 30); }, 10000));
    EXPECT_EQ(dayMask({ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed, ui.cbRTS1_Thu, ui.cbRTS1_Fri,
                       ui.cbRTS1_Sat}),
              62);
    EXPECT_EQ(ui.tebRTS1_PwrOff->time(), QTime(18, 0));

    const QJsonObject written = schedule(3);
    EXPECT_EQ(written.value("onHour").toInt(), 8);
    EXPECT_EQ(written.value("onMinute").toInt(), 30);
    EXPECT_EQ(written.value("offHour").toInt(), 18);
    EXPECT_EQ(written.value("offMinute").toInt(), 0);
    EXPECT_EQ(written.value("enableFlags").toInt(), 3);
    EXPECT_EQ(written.value("activeDays").toInt(), 62);
    EXPECT_EQ(schedule(4).value("activeDays").toInt(), 65); // slot 2 untouched

    ASSERT_TRUE(saveWindowScreenshot(form, QStringLiteral("tamsel-slot1.png")));
}

namespace {

size_t writesToRegister(const std::string &trace, const std::string &reg)
{
    size_t n = 0;
    const std::string needle = "write 0xAE " + reg + " ";
    for (size_t at = trace.find(needle); at != std::string::npos; at = trace.find(needle, at + 1))
        ++n;
    return n;
}

bool slotShows(Ui::MainFormClass &ui, const QJsonObject &held)
{
    const int days = ((ui.cbRTS1_Sun->isChecked() ? 1 : 0) | (ui.cbRTS1_Mon->isChecked() ? 2 : 0) |
                      (ui.cbRTS1_Tue->isChecked() ? 4 : 0) | (ui.cbRTS1_Wed->isChecked() ? 8 : 0) |
                      (ui.cbRTS1_Thu->isChecked() ? 16 : 0) | (ui.cbRTS1_Fri->isChecked() ? 32 : 0) |
                      (ui.cbRTS1_Sat->isChecked() ? 64 : 0));
    const int flags = (ui.gbRTS1_PwrOn->isChecked() ? 1 : 0) | (ui.gbRTS1_PwrOff->isChecked() ? 2 : 0);
    return days == held.value("activeDays").toInt() && flags == held.value("enableFlags").toInt() &&
           ui.tebRTS1_PwrOn->time() == QTime(held.value("onHour").toInt(), held.value("onMinute").toInt()) &&
           ui.tebRTS1_PwrOff->time() == QTime(held.value("offHour").toInt(), held.value("offMinute").toInt());
}

} // namespace

// The board killed while the agent is writing a schedule into it (its first
// register written, five to go): the write fails at once, the window does not
// show as held what the board was never seen to take (the slot's values are
// left out),
// and once the board is back the next command lands within a few seconds and
// the window and the board agree.
TEST_F(TamselMainFormWithOrvel, BoardKilledInTheMiddleOfAWriteNeitherStallsNorMisleadsTheWindow)
{
    MainForm form;
    Ui::MainFormClass &ui = form.form();
    ASSERT_TRUE(form.isOrvelAvailable());
    ASSERT_TRUE(QTest::qWaitFor([&] { return broker.countInLog("Received SUBSCRIBE") > 0; }, 10000));
    auto command = [](int onHour, int onMinute) {
        SlotValues slot;
        slot.activeDay = 62;
        slot.pwrOnEnable = true;
        slot.pwrOnHour = quint8(onHour);
        slot.pwrOnMinute = quint8(onMinute);
        slot.pwrOffEnable = true;
        slot.pwrOffHour = 19;
        return composeSlotCommand(QStringLiteral("SLOT1"), slot, QStringLiteral("operator")).toStdString();
    };

    // The first write of the next command is what the killer waits for; the
    // agent's own thread is inside the library meanwhile.
    const size_t firstWrites = writesToRegister(readFile(tracePath()), "0x50");
    const size_t lastWrites = writesToRegister(readFile(tracePath()), "0x55");
    std::atomic<bool> killed {false};
    std::thread killer([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            if (writesToRegister(readFile(tracePath()), "0x50") > firstWrites) {
                sim.kill();
                killed = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, command(7, 10)));
    const bool unknown = QTest::qWaitFor([&] { return ui.gbRTS1_PwrOn->isHidden(); }, 20000);
    killer.join();
    ASSERT_TRUE(killed) << "the write never started";
    EXPECT_TRUE(unknown) << "the window kept showing, as held, a record the board was never seen to take";
    EXPECT_TRUE(ui.gbRTS1ActiveDays->isHidden());
    EXPECT_EQ(writesToRegister(readFile(tracePath()), "0x55"), lastWrites) << "the write ran to its end";

    ASSERT_TRUE(sim.start()) << sim.error();
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, command(8, 20)));
    const bool landed = QTest::qWaitFor([&] { return schedule(3).value("onMinute").toInt() == 20; }, 10000);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count();
    ASSERT_TRUE(landed) << "the next command did not land once the board was back";
    std::printf("next command landed %lld ms after it was sent\n", ms);
    EXPECT_LT(ms, 5000) << "the next command waited for the dead board";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.gbRTS1_PwrOn->isHidden(); }, 5000));
    EXPECT_TRUE(slotShows(ui, schedule(3))) << "the window and the board disagree";
}

} // namespace
