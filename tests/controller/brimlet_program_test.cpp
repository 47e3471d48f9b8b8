// The Brimlet program as a process: it reads its settings from the working
// folder, connects to the configured broker by itself, writes nothing at
// start-up, and a signal that ends it (a kill, a closed terminal, the end of
// the desktop session) ends it as "Quit" does, saving the slots.
#include <QProcess>
#include <csignal>
#include <QProcessEnvironment>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "mosquitto_broker.h"
#include "temp_dir.h"

namespace {

using halden::test::MosquittoBroker;
using halden::test::TempDir;

struct EndCase {
    const char *name;
    int signal;   // sent once connected; 0: none, the settings are read while it runs
    bool saves;
};

class BrimletProgram : public ::testing::TestWithParam<EndCase> {};

TEST_P(BrimletProgram, ConnectsToConfiguredBrokerAndSavesOnlyWhenItEnds)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.outputText();
    TempDir dir("brimlet-program");
    const std::string settings = "[General]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.port()) +
                                 "\r\nTopicToken=halden/program-test\r\n";
    halden::test::writeFile(dir.file("Brimlet.ini"), settings);

    QProcess brimlet;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    brimlet.setProcessEnvironment(env);
    brimlet.setWorkingDirectory(QString::fromStdString(dir.path()));
    brimlet.setProcessChannelMode(QProcess::MergedChannels);
    brimlet.start(QStringLiteral(HALDEN_BIN_DIR "/Brimlet"), QStringList());
    ASSERT_TRUE(brimlet.waitForStarted(5000));

    // MQTT 3.1, clean session off, keep-alive 10 s, then the topic subscription.
    const bool connected = broker.waitForLog("(p1, c0, k10)", 10000);
    const bool subscribed = broker.waitForLog("halden/program-test (QoS 1)", 5000);
    const std::string whileRunning = halden::test::readFile(dir.file("Brimlet.ini"));

    ::kill(static_cast<pid_t>(brimlet.processId()), GetParam().signal);
    const bool ended = brimlet.waitForFinished(10000);
    if (!ended) {
        brimlet.kill();
        brimlet.waitForFinished(5000);
    }
    std::printf("%s\n", brimlet.readAll().constData());
    EXPECT_TRUE(connected) << broker.logText();
    EXPECT_TRUE(subscribed) << broker.logText();
    EXPECT_EQ(whileRunning, settings) << "written at start-up";
    const std::string after = halden::test::readFile(dir.file("Brimlet.ini"));
    if (GetParam().saves) {
        ASSERT_TRUE(ended);
        EXPECT_EQ(brimlet.exitStatus(), QProcess::NormalExit) << "died by the signal instead of quitting";
        EXPECT_EQ(brimlet.exitCode(), 0);
        EXPECT_EQ(after.rfind(settings, 0), 0u) << after;
        EXPECT_NE(after.find("[Slot1]\r\n"), std::string::npos) << "the slots were not saved: " << after;
        EXPECT_NE(after.find("ActiveDay=127"), std::string::npos) << after;
        EXPECT_NE(after.find("[Slot2]\r\n"), std::string::npos) << after;
        // The broker saw it leave, not lose it.
        EXPECT_TRUE(broker.waitForLog("disconnected.", 3000)) << broker.logText();
    } else {
        EXPECT_EQ(after, settings) << "a killed process saved";
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, BrimletProgram,
                         ::testing::Values(EndCase{"Term", SIGTERM, true}, EndCase{"Hangup", SIGHUP, true},
                                           EndCase{"Interrupt", SIGINT, true}, EndCase{"Kill", SIGKILL, false}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
