// Brimlet's command buttons against a real broker: what a subscriber on the
// topic receives, byte for byte.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimeEdit>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "brimlet_test_fixture.h"
#include "command_message.h"
#include "mainform.h"
#include "mosquitto_broker.h"
#include "run_program.h"
#include "temp_dir.h"

namespace {

using halden::test::MosquittoBroker;
using halden::test::MosquittoSubscriber;

const char *const topic = "halden/brimlet-test";

class BrimletPublishing : public BrimletFolderTest {
protected:
    void SetUp() override
    {
        BrimletFolderTest::SetUp();
        ASSERT_TRUE(broker.running()) << broker.outputText();
        writeSettings("[General]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.port()) +
                      "\r\nTopicToken=" + topic + "\r\n");
        subscriber = std::make_unique<MosquittoSubscriber>(broker, topic, 1);
        ASSERT_TRUE(subscriber->ready());
        form = std::make_unique<MainForm>();
        form->show();
        const qint64 ms = spinUntil([&] { return statusText() == "Network connected"; }, 8000);
        ASSERT_GE(ms, 0) << "status bar: " << statusText().toStdString();
        std::printf("connected after %lld ms\n", static_cast<long long>(ms));
    }

    void TearDown() override
    {
        form.reset();
        subscriber.reset();
        BrimletFolderTest::TearDown();
    }

    QString statusText() const { return form->statusBar()->currentMessage(); }

    // Presses a command button while `answer` handles the password dialog,
    // then waits for the subscriber to hold `count` messages.
    void press(const char *button, int page, PasswordAnswer &answer, size_t count)
    {
        widget<QListWidget>(form.get(), "listWidget")->setCurrentRow(page);
        QTest::mouseClick(widget<QPushButton>(form.get(), button), Qt::LeftButton);
        EXPECT_FALSE(answer.rescued());
        ASSERT_GE(spinUntil([&] { return subscriber->messages().size() >= count; }, 5000), 0)
            << "nothing arrived";
    }

    std::string lastPayload() const { return subscriber->messages().back().payload; }

    MosquittoBroker broker;
    std::unique_ptr<MosquittoSubscriber> subscriber;
    std::unique_ptr<MainForm> form;
};

TEST_F(BrimletPublishing, SlotOneExampleByteForByte)
{
    const QList<QCheckBox *> days = form->findChildren<QCheckBox *>(QRegularExpression("^cbRTS1_"));
    ASSERT_EQ(days.size(), 7);
    for (auto *day : days)
        day->setChecked(true);
    widget<QGroupBox>(form.get(), "gbcbRTS1_PwrOn")->setChecked(true);
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOn")->setTime(QTime(7, 30));
    widget<QGroupBox>(form.get(), "gbcbRTS1_PwrOff")->setChecked(false);
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOff")->setTime(QTime(18, 5));

    PasswordAnswer answer("pw");
    press("btnRemoteTimeSlot1", 0, answer, 1);
    const auto received = subscriber->messages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].topic, topic);
    EXPECT_EQ(received[0].payload,
              "{  \"CMD\": \"SLOT1\",  \"ACTIVE_DAY\": 127,  \"PWRON_ENABLE\": 1,  \"PWRON_HOUR\": 7,"
              "  \"PWRON_MINUTE\": 30,  \"PWROFF_ENABLE\": 0,  \"PWROFF_HOUR\": 18,"
              "  \"PWROFF_MINUTE\": 5,  \"PWD\": \"8fe4c11451281c94a6578e6ddbf5eed\" }");
    EXPECT_FALSE(received[0].retain);

    const SlotSettings &kept = form->settings().timeSlot1;
    EXPECT_EQ(kept.pwrOnHour, 7);
    EXPECT_EQ(kept.pwrOffMinute, 5);
    EXPECT_FALSE(kept.pwrOffEnable);
}

TEST_F(BrimletPublishing, SlotTwoCarriesItsOwnValuesOnly)
{
    // an unsent edit of slot 1 stays out of the slot-2 command
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOn")->setTime(QTime(5, 5));
    const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int d = 0; d < 7; ++d)
        widget<QCheckBox>(form.get(), (std::string("cbRTS2_") + days[d]).c_str())->setChecked(d == 1 || d == 5);
    widget<QTimeEdit>(form.get(), "tebRTS2_PwrOn")->setTime(QTime(8, 0));
    widget<QTimeEdit>(form.get(), "tebRTS2_PwrOff")->setTime(QTime(6, 0));

    PasswordAnswer answer("");
    press("btnRemoteTimeSlot2", 1, answer, 1);
    EXPECT_EQ(lastPayload(),
              "{  \"CMD\": \"SLOT2\",  \"ACTIVE_DAY\": 34,  \"PWRON_ENABLE\": 1,  \"PWRON_HOUR\": 8,"
              "  \"PWRON_MINUTE\": 0,  \"PWROFF_ENABLE\": 1,  \"PWROFF_HOUR\": 6,"
              "  \"PWROFF_MINUTE\": 0,  \"PWD\": \"d41d8cd98f0b24e980998ecf8427e\" }");
    EXPECT_EQ(form->settings().timeSlot1.pwrOnHour, 9) << "slot 1 was not collected";
}

TEST_F(BrimletPublishing, EdidCommandCarriesOnlyNameAndDigest)
{
    const SlotSettings before = form->settings().timeSlot1;
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOn")->setTime(QTime(5, 5));
    PasswordAnswer answer(QStringLiteral("Brimlet-\u00e9t\u00e9"));
    press("btnEdidReenumerate", 2, answer, 1);
    EXPECT_EQ(lastPayload(), "{  \"CMD\": \"EDID\",  \"PWD\": \"75ee37f6d58aa3211ea974d6a384d671\" }");
    EXPECT_EQ(form->settings().timeSlot1.pwrOnHour, before.pwrOnHour);
}

TEST_F(BrimletPublishing, SecondCommandAsksAgainWithEmptyFields)
{
    PasswordAnswer answer("pw");
    press("btnEdidReenumerate", 2, answer, 1);
    press("btnEdidReenumerate", 2, answer, 2);
    EXPECT_EQ(answer.answered(), 2);
    EXPECT_TRUE(answer.fieldsWereEmpty());
    const auto received = subscriber->messages();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].payload, received[1].payload);
}

class BrimletBrokerDown : public BrimletFolderTest {};

TEST_F(BrimletBrokerDown, StatusBarFollowsTheBroker)
{
    MosquittoBroker broker(MosquittoBroker::Deferred);
    writeSettings("[General]\r\nPort=" + std::to_string(broker.port()) + "\r\n");
    MainForm form;
    form.show();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(form.statusBar()->currentMessage().isEmpty());
    ASSERT_GE(spinUntil([&] { return !form.statusBar()->currentMessage().isEmpty(); }, 5000), 0);
    std::printf("first status after %lld ms\n", static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(form.statusBar()->currentMessage(), "The network is disconnected");

    ASSERT_TRUE(broker.start());
    clock.restart();
    ASSERT_GE(spinUntil([&] { return form.statusBar()->currentMessage() == "Network connected"; }, 8000), 0);
    std::printf("connected shown %lld ms after the broker started\n", static_cast<long long>(clock.elapsed()));

    broker.stop();
    ASSERT_GE(spinUntil([&] { return form.statusBar()->currentMessage() == "The network is disconnected"; }, 8000), 0);
}

TEST_F(BrimletBrokerDown, HostNameIsNotResolved)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    writeSettings("[General]\r\nHost=localhost\r\nPort=" + std::to_string(broker.port()) + "\r\n");
    MainForm form;
    // a few of the link's one-second retries
    spinUntil([] { return false; }, 2500);
    EXPECT_EQ(form.statusBar()->currentMessage(), "The network is disconnected");
    EXPECT_EQ(broker.countInLog("New client connected"), 0u);
}

TEST_F(BrimletBrokerDown, CommandStillAsksAndReturns)
{
    MosquittoBroker broker(MosquittoBroker::Deferred);
    writeSettings("[General]\r\nPort=" + std::to_string(broker.port()) + "\r\n");
    MainForm form;
    form.show();
    PasswordAnswer answer("pw");
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(widget<QPushButton>(&form, "btnRemoteTimeSlot1"), Qt::LeftButton);
    std::printf("command with the broker down returned after %lld ms\n", static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(answer.answered(), 1);
    EXPECT_FALSE(answer.rescued());
    widget<QListWidget>(&form, "listWidget")->setCurrentRow(2);
    QTest::mouseClick(widget<QPushButton>(&form, "btnEdidReenumerate"), Qt::LeftButton);
    EXPECT_EQ(answer.answered(), 2);
    EXPECT_FALSE(answer.rescued());
}

} // namespace

// brimlet-send publishes byte for byte what Brimlet's buttons publish for the
// same settings file and password (a non-ASCII one here).
class BrimletSendTwin : public BrimletPublishing,
                        public ::testing::WithParamInterface<std::tuple<const char *, int, const char *>> {};

TEST_P(BrimletSendTwin, PublishesWhatTheButtonPublishes)
{
    const auto [button, page, command] = GetParam();
    const QString password = QStringLiteral("Pa\u00df-\u00e9t\u00e9-\u65e5");
    // Values other than the defaults, so that the file is what both read.
    form.reset();
    writeSettings("[General]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.port()) + "\r\nTopicToken=" + topic
                  + "\r\n[Slot1]\r\nActiveDay=62\r\nPwrOnEnable=1\r\nPwrOnHour=6\r\nPwrOnMinute=45\r\n"
                    "PwrOffEnable=1\r\nPwrOffHour=23\r\nPwrOffMinute=15\r\n"
                    "[Slot2]\r\nActiveDay=65\r\nPwrOnEnable=1\r\nPwrOnHour=10\r\nPwrOnMinute=0\r\n"
                    "PwrOffEnable=0\r\nPwrOffHour=12\r\nPwrOffMinute=30\r\n");
    const std::string settingsBefore = settingsText();
    form = std::make_unique<MainForm>();
    form->show();
    ASSERT_GE(spinUntil([&] { return statusText() == "Network connected"; }, 8000), 0);
    PasswordAnswer answer(password);
    press(button, page, answer, 1);
    const std::string fromBrimlet = lastPayload();

    const std::string passwordFile = folder() + "/pw.txt";
    halden::test::writeFile(passwordFile, password.toStdString() + "\n");
    // A copy of the file as both read it (Brimlet rewrites its own at exit).
    halden::test::writeFile(folder() + "/copy.ini", settingsBefore);
    std::vector<std::string> args{HALDEN_BIN_DIR "/brimlet-send", command, "--config", folder() + "/copy.ini",
                                  "--password-file", passwordFile};
    const halden::test::ProgramResult sent = halden::test::runProgram(args, {}, 20000);
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_GE(spinUntil([&] { return subscriber->messages().size() >= 2; }, 5000), 0);
    const auto received = subscriber->messages();
    EXPECT_EQ(received[1].payload, fromBrimlet);
    EXPECT_EQ(received[1].topic, topic);
    EXPECT_FALSE(received[1].retain);

    // A dry run masks the digest, which opens the board as the password
    // does; --show-digest prints the bytes as sent.
    args.push_back("--dry-run");
    const halden::test::ProgramResult dry = halden::test::runProgram(args, {}, 20000);
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    const std::string digest = passwordDigest(password).toStdString();
    std::string masked = fromBrimlet;
    masked.replace(masked.find(digest), digest.size(), "********");
    EXPECT_EQ(dry.out, std::string(topic) + "\t" + masked + "\n");
    args.push_back("--show-digest");
    const halden::test::ProgramResult shown = halden::test::runProgram(args, {}, 20000);
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out, std::string(topic) + "\t" + fromBrimlet + "\n");
    EXPECT_EQ(dry.out.find(password.toStdString()), std::string::npos);
    EXPECT_EQ(sent.out.find(password.toStdString()), std::string::npos);
    EXPECT_EQ(sent.err.find(password.toStdString()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Commands, BrimletSendTwin,
                         ::testing::Values(std::make_tuple("btnRemoteTimeSlot1", 0, "slot1"),
                                           std::make_tuple("btnRemoteTimeSlot2", 1, "slot2"),
                                           std::make_tuple("btnEdidReenumerate", 2, "edid")),
                         [](const auto &info) { return std::string(std::get<2>(info.param)); });
