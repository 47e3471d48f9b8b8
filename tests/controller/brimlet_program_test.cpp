// The Brimlet program as a process: it reads its settings from the working
// folder, connects to the configured broker by itself, and writes nothing at
// start-up (a killed process saves nothing either).
#include <QProcess>
#include <QProcessEnvironment>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

#include "mosquitto_broker.h"
#include "temp_dir.h"

namespace {

using halden::test::MosquittoBroker;
using halden::test::TempDir;

TEST(BrimletProgram, ConnectsToConfiguredBrokerAndWritesNothingAtStart)
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

    brimlet.terminate();
    if (!brimlet.waitForFinished(5000)) {
        brimlet.kill();
        brimlet.waitForFinished(5000);
    }
    std::printf("%s\n", brimlet.readAll().constData());
    EXPECT_TRUE(connected) << broker.logText();
    EXPECT_TRUE(subscribed) << broker.logText();
    EXPECT_EQ(halden::test::readFile(dir.file("Brimlet.ini")), settings);
}

} // namespace
