// The broker link keeps the clean-session flag off on every CONNECT it ever
// sends: the first, and every retry after an attempt was cut off in any way,
// and every reconnection after the broker went away.
#include "mosquitto_broker.h"
#include "mqtt_test_util.h"
#include "mqtt_transmit.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace halden::test;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);
const QString kTopic = QStringLiteral("halden/sessions");
// Enough for the CONNECT of a 23-character identifier.
const size_t kConnectSize = 12 + 2 + 23;

// How the attempts before the broker comes up end.
enum class CutOff {
    NothingListening,     // refused at once
    DroppedBeforeConnack, // accepted, CONNECT read, connection closed
    RefusedByConnack,     // CONNACK "server unavailable", then closed
    HandshakeUnanswered,  // pending until the link drops it for a new attempt
};

struct SessionCase {
    const char *name;
    CutOff cutOff;
};

// Every "New client connected" line of the broker's log for one identifier.
std::vector<std::string> connectLines(const std::string &log, const std::string &id)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    std::string line;
    const std::string as = " as " + id + " (";
    while (std::getline(in, line))
        if (line.find("New client connected") != std::string::npos && line.find(as) != std::string::npos)
            lines.push_back(line);
    return lines;
}

class LinkSessions : public ::testing::TestWithParam<SessionCase> {
protected:
    MosquittoBroker broker{MosquittoBroker::Deferred};
    std::unique_ptr<MqttTransmit> link =
        std::make_unique<MqttTransmit>(kLoopback, broker.port(), kTopic, nullptr);
    std::vector<ConnectPacket> seenOnTheWire;

    std::string id() const { return link->clientId().toStdString(); }
    size_t subscriptions() const { return broker.countInLog(id() + " 1 " + kTopic.toStdString()); }

    // Lets the link make its attempts against a stand-in on the broker's port.
    void cutOffAttempts(CutOff how)
    {
        if (how == CutOff::NothingListening) {
            QSignalSpy errors(link.get(), &QMQTT::Client::error);
            link->connectToHost();
            ASSERT_TRUE(waitUntil([&] { return errors.count() >= 2; }, 5000));
            return;
        }
        SilentListener standIn(broker.port());
        ASSERT_TRUE(standIn.ok());
        if (how == CutOff::HandshakeUnanswered) {
            link->connectToHost();
            spin(2500); // the owner's attempt and two of the watchdog's, each dropped
            EXPECT_FALSE(link->isConnectedToHost());
            return;
        }
        standIn.release();
        link->connectToHost();
        for (int attempt = 0; attempt < 2; ++attempt) {
            const int fd = standIn.acceptOne(5000);
            ASSERT_GE(fd, 0) << "attempt " << attempt;
            seenOnTheWire.push_back(parseConnect(SilentListener::readSome(fd, kConnectSize, 3000)));
            if (how == CutOff::RefusedByConnack) {
                const char connack[] = {0x20, 0x02, 0x00, 0x03};
                ASSERT_EQ(write(fd, connack, sizeof connack), static_cast<ssize_t>(sizeof connack));
            }
            close(fd);
        }
    }
};

} // namespace

TEST_P(LinkSessions, EveryConnectKeepsCleanSessionOff)
{
    cutOffAttempts(GetParam().cutOff);
    if (HasFatalFailure())
        return;
    for (const ConnectPacket &p : seenOnTheWire) {
        ASSERT_TRUE(p.valid);
        EXPECT_EQ(p.protocolName, "MQIsdp");
        EXPECT_EQ(p.level, 3);
        EXPECT_EQ(p.flags, 0x00);
        EXPECT_EQ(p.clientId, id());
    }

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitUntil([&] { return subscriptions() >= 1; }, 5000)) << broker.logText();
    // And once more after the broker went away and came back.
    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return !link->isConnectedToHost(); }, 5000));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitUntil([&] { return subscriptions() >= 2; }, 5000)) << broker.logText();

    // The log runs on across the restart: both connections are in it.
    const std::vector<std::string> lines = connectLines(broker.logText(), id());
    EXPECT_GE(lines.size(), 2u) << broker.logText();
    for (const std::string &line : lines)
        EXPECT_NE(line.find("(p1, c0, k10)"), std::string::npos) << line;
    std::printf("[ figures  ] %s: %zu CONNECTs seen by stand-ins, %zu by the broker\n",
                GetParam().name, seenOnTheWire.size(), lines.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkSessions,
                         ::testing::Values(SessionCase{"NothingListening", CutOff::NothingListening},
                                           SessionCase{"DroppedBeforeConnack", CutOff::DroppedBeforeConnack},
                                           SessionCase{"RefusedByConnack", CutOff::RefusedByConnack},
                                           SessionCase{"HandshakeUnanswered", CutOff::HandshakeUnanswered}),
                         [](const auto &info) { return std::string(info.param.name); });
