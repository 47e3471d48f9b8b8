// The broker link as the host controller builds it (with publishPayload),
// against a real mosquitto started by each test.
#include "mosquitto_broker.h"
#include "mqtt_test_util.h"
#include "mqtt_transmit.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace halden::test;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);
const QString kTopic = QStringLiteral("halden/site-7");

struct LinkFixture : ::testing::Test {
    MosquittoBroker broker{MosquittoBroker::Deferred};
    std::unique_ptr<MqttTransmit> link;
    std::unique_ptr<QSignalSpy> received;

    void SetUp() override
    {
        // Owners create the link without a parent and connect right away.
        link = std::make_unique<MqttTransmit>(kLoopback, broker.port(), kTopic, nullptr);
        received = std::make_unique<QSignalSpy>(link.get(), &MqttTransmit::SignalMqttReceived);
    }

    std::string id() const { return link->clientId().toStdString(); }
    // The broker's record of a QoS 1 subscription to the topic by this link.
    std::string subscriptionLine() const { return id() + " 1 " + kTopic.toStdString(); }

    bool waitSubscribed(size_t times = 1, int timeoutMs = 5000) const
    {
        return waitUntil([&] { return broker.countInLog(subscriptionLine()) >= times; }, timeoutMs);
    }

    QMQTT::Message receivedAt(int i) const { return received->at(i).at(0).value<QMQTT::Message>(); }
};

} // namespace

TEST_F(LinkFixture, SubscribesWithQos1AndHandsOnWhatArrives)
{
    ASSERT_TRUE(broker.start());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed()) << broker.logText();

    const std::string payload = "{\"CMD\":\"SLOT1\",\"ACTIVE_DAY\":62}";
    ASSERT_TRUE(mosquittoPublish(broker.port(), kTopic.toStdString(), payload));
    ASSERT_TRUE(waitUntil([&] { return received->count() == 1; }, 5000));
    EXPECT_EQ(receivedAt(0).topic(), kTopic);
    EXPECT_EQ(receivedAt(0).payload(), QByteArray::fromStdString(payload));

    // Other topics are not ours.
    ASSERT_TRUE(mosquittoPublish(broker.port(), "halden/other", "x"));
    ASSERT_TRUE(mosquittoPublish(broker.port(), kTopic.toStdString(), "marker"));
    ASSERT_TRUE(waitUntil([&] { return received->count() == 2; }, 5000));
    EXPECT_EQ(receivedAt(1).payload(), QByteArray("marker"));
}

TEST_F(LinkFixture, ConnectsAsMqtt31KeepAlive10WithoutCleanSession)
{
    ASSERT_TRUE(broker.start());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed());
    EXPECT_LE(id().size(), 23u);
    const std::string connectLine = "as " + id() + " (p1, c0, k10)";
    EXPECT_NE(broker.logText().find(connectLine), std::string::npos) << broker.logText();
    EXPECT_EQ(link->keepAlive(), 10);
    EXPECT_EQ(link->willQos(), 1);

    // A second link (another program, or the next run) has its own identifier.
    MqttTransmit other(kLoopback, broker.port(), kTopic, nullptr);
    EXPECT_NE(other.clientId(), link->clientId());
}

TEST_F(LinkFixture, RetriesEverySecondAndConnectsSoonAfterTheBrokerStarts)
{
    QSignalSpy errors(link.get(), &QMQTT::Client::error);
    link->connectToHost();
    QElapsedTimer watching;
    watching.start();
    const Lateness late = measureLatenessWithin(50.0, 3, 1200, "no broker");
    spin(static_cast<int>(qMax<qint64>(0, 3500 - watching.elapsed())));
    std::printf("[ figures  ] no broker: %d failed attempts in %lld ms\n",
                static_cast<int>(errors.count()), static_cast<long long>(watching.elapsed()));
    EXPECT_LT(late.maxMs, 50.0);
    EXPECT_GE(errors.count(), 3); // the owner's attempt and the watchdog's
    EXPECT_FALSE(link->isConnectedToHost());

    ASSERT_TRUE(broker.start());
    QElapsedTimer sinceStart;
    sinceStart.start();
    ASSERT_TRUE(waitSubscribed(1, 5000)) << broker.logText();
    std::printf("[ figures  ] subscribed %lld ms after the broker accepted connections\n",
                static_cast<long long>(sinceStart.elapsed()));
    EXPECT_TRUE(link->isConnectedToHost());
}

TEST_F(LinkFixture, ReconnectsAndResubscribesAfterBrokerRestart)
{
    ASSERT_TRUE(broker.start());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed());

    const size_t before = broker.countInLog(subscriptionLine());
    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return !link->isConnectedToHost(); }, 5000));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitSubscribed(before + 1, 5000)) << broker.logText();
    EXPECT_TRUE(link->isConnectedToHost());

    ASSERT_TRUE(mosquittoPublish(broker.port(), kTopic.toStdString(), "after restart"));
    ASSERT_TRUE(waitUntil([&] { return received->count() == 1; }, 5000));
    EXPECT_EQ(receivedAt(0).payload(), QByteArray("after restart"));
}

TEST_F(LinkFixture, PublishedPayloadReachesSubscribersAndComesBack)
{
    ASSERT_TRUE(broker.start());
    MosquittoSubscriber early(broker, kTopic.toStdString(), 1);
    ASSERT_TRUE(early.ready());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed());

    const QByteArray payload("{\"CMD\":\"EDID\",\"PWD\":\"d41d8cd98f0b24e980998ecf8427e\"}");
    link->publishPayload(payload);
    ASSERT_TRUE(early.waitForMessages(1, 5000));
    const MqttReceived got = early.messages().at(0);
    EXPECT_EQ(got.topic, kTopic.toStdString());
    EXPECT_EQ(got.payload, payload.toStdString());
    EXPECT_EQ(got.qos, 0); // granted 1, but sent with 0
    EXPECT_FALSE(got.retain);
    EXPECT_NE(broker.logText().find("Received PUBLISH from " + id() + " (d0, q0, r0, m0, '"
                                    + kTopic.toStdString()),
              std::string::npos);

    ASSERT_TRUE(waitUntil([&] { return received->count() == 1; }, 5000));
    EXPECT_EQ(receivedAt(0).payload(), payload);

    // Not retained: a subscriber that comes later sees only what follows.
    MosquittoSubscriber late(broker, kTopic.toStdString(), 1);
    ASSERT_TRUE(late.ready());
    ASSERT_TRUE(mosquittoPublish(broker.port(), kTopic.toStdString(), "marker"));
    ASSERT_TRUE(late.waitForMessages(1, 5000));
    ASSERT_EQ(late.messages().size(), 1u);
    EXPECT_EQ(late.messages()[0].payload, "marker");
}

TEST_F(LinkFixture, PublishWhileDownIsDroppedNotQueued)
{
    link->connectToHost();
    link->publishPayload("lost");
    ASSERT_TRUE(broker.start());
    MosquittoSubscriber sub(broker, kTopic.toStdString(), 1);
    ASSERT_TRUE(sub.ready());
    ASSERT_TRUE(waitSubscribed());
    link->publishPayload("sent");
    ASSERT_TRUE(sub.waitForMessages(1, 5000));
    ASSERT_TRUE(waitUntil([&] { return received->count() == 1; }, 5000));
    EXPECT_EQ(sub.messages().size(), 1u);
    EXPECT_EQ(sub.messages()[0].payload, "sent");
}

TEST_F(LinkFixture, NullAddressFailsQuietlyAndTheLoopStaysResponsive)
{
    MqttTransmit nowhere(QHostAddress(), broker.port(), kTopic, nullptr);
    QSignalSpy connected(&nowhere, &QMQTT::Client::connected);
    nowhere.connectToHost();
    const Lateness late = measureLatenessWithin(50.0, 3, 1200, "null address");
    EXPECT_LT(late.maxMs, 50.0);
    EXPECT_FALSE(nowhere.isConnectedToHost());
    EXPECT_EQ(connected.count(), 0);
    nowhere.publishPayload("nowhere to go");
}

TEST_F(LinkFixture, ConnectionLossLeavesTheLinkClosedUntilTheNextTick)
{
    ASSERT_TRUE(broker.start());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed());
    QSignalSpy disconnected(link.get(), &QMQTT::Client::disconnected);
    broker.stop();
    ASSERT_TRUE(waitUntil([&] { return disconnected.count() >= 1; }, 5000));
    EXPECT_FALSE(link->isConnectedToHost());
}

TEST_F(LinkFixture, DestroyedWhileConnectedSendsDisconnect)
{
    ASSERT_TRUE(broker.start());
    link->connectToHost();
    ASSERT_TRUE(waitSubscribed());
    const std::string who = id();
    received.reset();
    link.reset();
    EXPECT_TRUE(broker.waitForLog("Received DISCONNECT from " + who, 3000));
}

TEST_F(LinkFixture, DestroyedWhileAttemptsAreFailingOrPending)
{
    link->connectToHost();
    spin(1200); // at least one watchdog attempt on top of the owner's
    received.reset();
    link.reset();

    SilentListener silent;
    MqttTransmit pending(kLoopback, silent.port(), kTopic, nullptr);
    pending.connectToHost();
    spin(1200);
    EXPECT_FALSE(pending.isConnectedToHost());
}

namespace {

// The sockets (inodes) of handshakes to 127.0.0.1:`port` that still wait for
// their answer (SYN_SENT in /proc/net/tcp). A new attempt is a new socket,
// even where it gets the same local port.
std::set<long> handshakesTo(uint16_t port)
{
    std::set<long> out;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        long inode = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        const auto colon = remote.find(':');
        if (state == "02" && colon != std::string::npos && std::stoi(remote.substr(colon + 1), nullptr, 16) == port)
            out.insert(inode);
    }
    return out;
}

// The link's own pending handshakes: those not already there before it
// started (the silent listener's fillers wait in SYN_SENT too).
std::set<long> linkHandshakes(uint16_t port, const std::set<long> &before)
{
    std::set<long> out;
    for (long inode : handshakesTo(port))
        if (!before.count(inode))
            out.insert(inode);
    return out;
}

} // namespace

// A handshake slower than the watchdog's tick (a distant link) keeps its one
// attempt (the same socket) across ticks, and so is reached.
TEST_F(LinkFixture, SlowHandshakeKeepsItsAttemptAndIsReached)
{
    SilentListener slow;  // handshakes go unanswered until release()
    ASSERT_TRUE(slow.ok());
    const std::set<long> fillers = handshakesTo(slow.port());
    MqttTransmit late(kLoopback, slow.port(), kTopic, nullptr);
    late.connectToHost();
    const std::set<long> first = linkHandshakes(slow.port(), fillers);
    ASSERT_EQ(first.size(), 1u);
    spin(2500);  // two watchdog ticks
    EXPECT_EQ(linkHandshakes(slow.port(), fillers), first) << "the pending attempt was dropped for a new one";
    slow.release();
    const int fd = slow.acceptOne(5000);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(waitUntil([&] { return late.isConnectedToHost(); }, 3000));
    close(fd);
}

// A handshake that is never answered is given up at the connect time-out
// (not only when the kernel stops retrying, minutes later), and the watchdog
// then starts a fresh attempt on a new socket; the old one is closed.
TEST_F(LinkFixture, UnansweredHandshakeIsGivenUpAtItsTimeOutAndRetried)
{
    SilentListener silent;
    ASSERT_TRUE(silent.ok());
    const std::set<long> fillers = handshakesTo(silent.port());
    MqttTransmit late(kLoopback, silent.port(), kTopic, nullptr);
    EXPECT_EQ(late.connectTimeout(), 10000);
    late.setConnectTimeout(2500);
    QSignalSpy errors(&late, &QMQTT::Client::error);
    late.connectToHost();
    const std::set<long> first = linkHandshakes(silent.port(), fillers);
    ASSERT_EQ(first.size(), 1u);
    spin(1500);
    EXPECT_EQ(linkHandshakes(silent.port(), fillers), first);
    EXPECT_EQ(errors.count(), 0);

    ASSERT_TRUE(waitUntil([&] { return errors.count() >= 1; }, 4000));
    EXPECT_EQ(errors.at(0).at(0).value<QMQTT::ClientError>(), QMQTT::SocketTimeoutError);
    std::set<long> next;
    EXPECT_TRUE(waitUntil([&] {
        next = linkHandshakes(silent.port(), fillers);
        return !next.empty() && next != first;
    }, 3000));
    // One handshake at a time: the given-up one is gone, not left to the kernel.
    EXPECT_EQ(next.size(), 1u);
    EXPECT_EQ(next.count(*first.begin()), 0u);
}

TEST(MqttTransmitMetaObject, SignalThenSlotsInOrder)
{
    const QMetaObject &mo = MqttTransmit::staticMetaObject;
    EXPECT_STREQ(mo.superClass()->className(), "QMQTT::Client");
    struct Expected {
        const char *signature;
        QMetaMethod::MethodType type;
    };
    const Expected expected[] = {
        {"SignalMqttReceived(QMQTT::Message)", QMetaMethod::Signal},
        {"onConnected()", QMetaMethod::Slot},
        {"onDisconnected()", QMetaMethod::Slot},
        {"onSubscribed(QString)", QMetaMethod::Slot},
        {"onReceived(QMQTT::Message)", QMetaMethod::Slot},
        {"onError(QMQTT::ClientError)", QMetaMethod::Slot},
        {"slot_TimerEvent()", QMetaMethod::Slot},
    };
    ASSERT_EQ(mo.methodCount() - mo.methodOffset(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < static_cast<int>(std::size(expected)); ++i) {
        const QMetaMethod m = mo.method(mo.methodOffset() + i);
        EXPECT_EQ(m.methodSignature().toStdString(), expected[i].signature) << i;
        EXPECT_EQ(m.methodType(), expected[i].type) << i;
    }
}

TEST(MqttTransmitMetaObject, OnReceivedReemitsUnderTheOwnersSignature)
{
    // Both main windows connect by this string signature.
    MqttTransmit link(kLoopback, 1, kTopic, nullptr);
    QSignalSpy spy(&link, SIGNAL(SignalMqttReceived(const QMQTT::Message &)));
    ASSERT_TRUE(spy.isValid());
    link.onReceived(QMQTT::Message(5, kTopic, "p", 1));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<QMQTT::Message>(), QMQTT::Message(5, kTopic, "p", 1));
}
