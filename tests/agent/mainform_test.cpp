#include "mainform.h"

#include "command_message.h"
#include "debug_capture.h"
#include "mosquitto_broker.h"
#include "mqtt_flood.h"
#include "pty.h"
#include "qmqtt_message.h"
#include "temp_dir.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace {

// Each test runs the window in its own working folder, where "tamsel.ini" is
// looked for; the broker port is one nothing listens on.
class TamselMainForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(work.path())));
    }
    void TearDown() override { QDir::setCurrent(previousDir); }

    void writeIni(const std::string &extra = {})
    {
        halden::test::writeFile(work.file("tamsel.ini"),
                                "[General]\nHost=127.0.0.1\nPort=" + std::to_string(port) +
                                    "\nTopicToken=site/board7\nPwd=s3cret\n" + extra);
    }

    halden::test::TempDir work {"tamsel-form"};
    QString previousDir;
    const uint16_t port = halden::test::freeLoopbackPort();
};

TEST_F(TamselMainForm, StartUpWithoutLibrary)
{
    writeIni();
    MainForm form;
    Ui::MainFormClass &ui = form.form();
    EXPECT_FALSE(form.isQuitRequested());
    EXPECT_EQ(ui.labMessageTopic->text(), QStringLiteral("site/board7"));
    EXPECT_EQ(ui.labMessageStatus->text(), QString());
    EXPECT_EQ(ui.labORVL->text(), QStringLiteral("No"));
    EXPECT_EQ(ui.labEdidEmulator->text(), QStringLiteral("No"));
    EXPECT_FALSE(form.isOrvelAvailable());
    // Schedule part hidden and the window shrunk to its status lines.
    EXPECT_TRUE(ui.gbRTS1ActiveDays->isHidden());
    EXPECT_TRUE(ui.labHSpacer->isHidden());
    EXPECT_TRUE(ui.gbRTS2_PwrOff->isHidden());
    EXPECT_FALSE(ui.labORVL->isHidden());
    EXPECT_EQ(form.width(), 300);
    EXPECT_LT(form.height(), 397);
    // The offscreen desktop has no tray: the window is shown to stay reachable.
    EXPECT_EQ(form.isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());

    EXPECT_TRUE(QTest::qWaitFor([&] { return !ui.labMessageStatus->text().isEmpty(); }, 5000));
    EXPECT_EQ(ui.labMessageStatus->text(), QStringLiteral("Disconnected"));
}

TEST_F(TamselMainForm, SettingsDefaultsAndPortTruncation)
{
    halden::test::writeFile(work.file("tamsel.ini"), "[General]\nPort=70000\n");
    MainForm form;
    EXPECT_EQ(form.settings().host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form.settings().port, 4464);
    EXPECT_EQ(form.settings().topicToken, QStringLiteral("HALDEN"));
    EXPECT_EQ(form.settings().pwd, QString());
    EXPECT_EQ(form.settings().edidSerialPort, QString());
}

// With a tray the close button hides the window (the tray brings it back);
// without one it minimises it, as a hidden window could not be reached again.
TEST_F(TamselMainForm, CloseHidesOrMinimisesUnlessQuitRequested)
{
    writeIni();
    MainForm form;
    form.show();
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();

    QCloseEvent hideOnly;
    QApplication::sendEvent(&form, &hideOnly);
    EXPECT_FALSE(hideOnly.isAccepted());
    EXPECT_EQ(form.isVisible(), !tray);
    EXPECT_EQ(form.isMinimized(), !tray);

    form.slot_TrayActivated(QSystemTrayIcon::Context);
    EXPECT_EQ(form.isVisible(), !tray);
    form.slot_TrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(form.isVisible());
    form.close();
    EXPECT_EQ(form.isVisible(), !tray);
    form.slot_TrayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(form.isVisible());

    form.slot_actTrayQuit();
    EXPECT_TRUE(form.isQuitRequested());
    EXPECT_FALSE(form.isVisible());
    QCloseEvent forGood;
    QApplication::sendEvent(&form, &forGood);
    EXPECT_TRUE(forGood.isAccepted());
}

// Settings that cannot serve: an empty password, a host name, a file in
// UTF-16, and a folder where the file should be; each says so at start.
TEST_F(TamselMainForm, UnusableSettingsAreNamedAtStart)
{
    halden::test::writeFile(work.file("tamsel.ini"), "[General]\nHost=broker.example\nPwd = spaced\n");
    {
        DebugCapture debug;
        MainForm form;
        EXPECT_EQ(debug.lines.filter(QStringLiteral("every command will be refused")).size(), 1);
        EXPECT_EQ(debug.lines.filter(QStringLiteral("Host broker.example is not a numeric address")).size(), 1);
    }
    halden::test::writeFile(work.file("tamsel.ini"), std::string("\xFF\xFE[\0G\0", 6));
    {
        DebugCapture debug;
        MainForm form;
        EXPECT_EQ(debug.lines.filter(QStringLiteral("tamsel.ini is saved as UTF-16")).size(), 1);
    }
}

// The close button only hides; "&Quit" in the tray menu ends the event loop.
TEST_F(TamselMainForm, TrayMenuQuitEndsTheProgram)
{
    writeIni();
    MainForm form;
    auto *menu = form.findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    QAction *quit = menu->actions().first();
    EXPECT_EQ(quit->text(), QStringLiteral("&Quit"));
    EXPECT_EQ(quit->parent(), &form);

    bool aliveAfterClose = false;
    bool guardFired = false;
    QTimer::singleShot(100, &form, [&] { form.close(); });
    QTimer::singleShot(400, &form, [&] {
        aliveAfterClose = true;
        quit->trigger();
    });
    QTimer::singleShot(10000, [&] {
        guardFired = true;
        QApplication::exit(99);
    });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_FALSE(guardFired);
    EXPECT_TRUE(form.isQuitRequested());
}

TEST_F(TamselMainForm, EdidPortOnPseudoTerminal)
{
    halden::test::Pty pty;
    ASSERT_TRUE(pty.ok());
    writeIni("EdidSerialPort=" + pty.slavePath() + "\n");
    DebugCapture debug;
    MainForm form;
    EXPECT_TRUE(debug.lines.contains(QStringLiteral("Serial Port is connected")));
    EXPECT_TRUE(form.isEdidPortOpen());
    EXPECT_EQ(form.form().labEdidEmulator->text(), QStringLiteral("Yes"));

    // What the device sends is read and thrown away.
    ASSERT_TRUE(pty.write("\x01\x02\x03"));
    QTest::qWait(100);

    const QString edid = composeEdidCommand(QStringLiteral("s3cret"));
    form.slot_mtsTopicReceived(QMQTT::Message(0, QStringLiteral("site/board7"), edid.toUtf8()));
    QTest::qWait(50);
    const std::string got = pty.read(36, 3000);
    EXPECT_EQ(QByteArray::fromStdString(got).toHex().toStdString(),
              QByteArray::fromHex("FFEE00000002669400FFEE00001002F70100FFEE0000200255B700FFEE00003002C42200")
                  .toHex()
                  .toStdString());

    const QString wrong = composeEdidCommand(QStringLiteral("guess"));
    form.slot_mtsTopicReceived(QMQTT::Message(0, QStringLiteral("site/board7"), wrong.toUtf8()));
    QTest::qWait(50);
    EXPECT_EQ(pty.drain(200), "");
}

// Retained messages and messages far larger than any command are dropped
// before they are read, each with one line; the next real command still works.
TEST_F(TamselMainForm, RetainedAndOversizedMessagesAreNotRun)
{
    halden::test::Pty pty;
    ASSERT_TRUE(pty.ok());
    writeIni("EdidSerialPort=" + pty.slavePath() + "\n");
    MainForm form;
    const QByteArray edid = composeEdidCommand(QStringLiteral("s3cret")).toUtf8();
    DebugCapture debug;
    form.slot_mtsTopicReceived(QMQTT::Message(0, QStringLiteral("site/board7"), edid, 0, true));
    QByteArray padded = edid;
    padded.insert(1, QByteArray(64 * 1024, ' '));  // still a valid command, but too large
    form.slot_mtsTopicReceived(QMQTT::Message(0, QStringLiteral("site/board7"), padded));
    EXPECT_EQ(pty.drain(300), "");
    EXPECT_EQ(debug.lines.filter(QStringLiteral("Ignored a retained message on site/board7")).size(), 1);
    EXPECT_EQ(debug.lines.filter(QStringLiteral("Ignored a message of %1 bytes").arg(padded.size())).size(), 1);
    EXPECT_TRUE(debug.lines.filter(QStringLiteral("slot_mtsBranchReceived")).isEmpty()) << "a dropped one was read";

    // At the limit it is still read.
    QByteArray atLimit = edid;
    atLimit.insert(1, QByteArray(64 * 1024 - edid.size(), ' '));
    form.slot_mtsTopicReceived(QMQTT::Message(0, QStringLiteral("site/board7"), atLimit));
    EXPECT_EQ(pty.read(36, 3000).size(), 36u);
}

// Messages keep arriving while the window goes away: none may reach the
// command handler after it is gone (the sanitizers see to that).
TEST_F(TamselMainForm, PublishesRacingTheExit)
{
    halden::test::MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    halden::test::writeFile(work.file("tamsel.ini"), "[General]\nHost=127.0.0.1\nPort=" + std::to_string(broker.port())
                                                         + "\nTopicToken=site/board7\nPwd=s3cret\n");
    for (int round = 0; round < 5; ++round) {
        auto form = std::make_unique<MainForm>();
        const size_t before = broker.countInLog("Received SUBSCRIBE");
        ASSERT_TRUE(QTest::qWaitFor([&] { return broker.countInLog("Received SUBSCRIBE") > before; }, 10000));
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            halden::test::MqttFlood publisher(broker.port());
            const std::string wrong = composeEdidCommand(QStringLiteral("wrong")).toStdString();
            while (!stop)
                publisher.publish("site/board7", wrong);
        });
        QTest::qWait(100 + 50 * round);
        form.reset();
        stop = true;
        flood.join();
    }
}

TEST_F(TamselMainForm, EdidPortThatCannotOpen)
{
    writeIni("EdidSerialPort=" + work.file("no-such-tty") + "\n");
    DebugCapture debug;
    MainForm form;
    EXPECT_TRUE(debug.lines.contains(QStringLiteral("Serial Port can't be connected")));
    EXPECT_FALSE(form.isEdidPortOpen());
    EXPECT_EQ(form.form().labEdidEmulator->text(), QStringLiteral("No"));
}

TEST_F(TamselMainForm, NoPortConfiguredSaysNothing)
{
    writeIni();
    DebugCapture debug;
    MainForm form;
    EXPECT_FALSE(debug.lines.contains(QStringLiteral("Serial Port can't be connected")));
    EXPECT_FALSE(debug.lines.contains(QStringLiteral("Serial Port is connected")));
}

// A folder named "tamsel.ini" is no settings file: the box appears as for a missing one.
TEST_F(TamselMainForm, SettingsFolderCountsAsMissing)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("tamsel.ini")));
    QString text;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    user.start(50);
    MainForm form;
    user.stop();
    EXPECT_EQ(text, QStringLiteral("The configuration file is missed"));
    EXPECT_TRUE(form.isQuitRequested());
}

// Without "tamsel.ini" the message box appears; once dismissed, the program
// ends by itself. This runs start-up and the event loop as the program does;
// a timer plays the user who presses OK.
TEST_F(TamselMainForm, MissingSettingsShowsBoxThenEnds)
{
    QString text;
    QString informative;
    int buttons = 0;
    bool okIsDefault = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        informative = box->informativeText();
        buttons = box->buttons().size();
        okIsDefault = box->defaultButton() == box->button(QMessageBox::Ok);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        box->button(QMessageBox::Ok)->click();
    });
    user.start(50);

    MainForm form;
    user.stop();
    EXPECT_EQ(text, QStringLiteral("The configuration file is missed"));
    EXPECT_EQ(informative,
              QStringLiteral("Please confirm the application folder and make sure this file is setting correctly."));
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(okIsDefault);
    EXPECT_TRUE(form.isQuitRequested());
    EXPECT_EQ(form.settings().topicToken, QStringLiteral("HALDEN"));
    EXPECT_FALSE(form.isVisible());

    bool guardFired = false;
    QTimer::singleShot(10000, [&] {
        guardFired = true;
        QApplication::exit(99);
    });
    QElapsedTimer clock;
    clock.start();
    const int result = QApplication::exec();
    std::printf("event loop ended %lld ms after start-up\n", static_cast<long long>(clock.elapsed()));
    EXPECT_FALSE(guardFired);
    EXPECT_EQ(result, 0);
}

} // namespace
