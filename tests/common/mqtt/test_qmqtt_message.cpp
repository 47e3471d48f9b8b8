// The message value the client hands around, and its use in queued signals.
#include "qmqtt_client.h"
#include "qmqtt_message.h"

#include <QCoreApplication>
#include <QVariant>
#include <gtest/gtest.h>

TEST(QmqttMessage, DefaultsAndConstructorValues)
{
    const QMQTT::Message empty;
    EXPECT_EQ(empty.id(), 0);
    EXPECT_TRUE(empty.topic().isEmpty());
    EXPECT_TRUE(empty.payload().isEmpty());
    EXPECT_EQ(empty.qos(), 0);
    EXPECT_FALSE(empty.retain());
    EXPECT_FALSE(empty.dup());

    const QByteArray binary("a\0b\xff", 4);
    const QMQTT::Message m(65535, QStringLiteral("site/\u00e9"), binary, 2, true, true);
    EXPECT_EQ(m.id(), 65535);
    EXPECT_EQ(m.topic(), QStringLiteral("site/\u00e9"));
    EXPECT_EQ(m.payload(), binary);
    EXPECT_EQ(m.qos(), 2);
    EXPECT_TRUE(m.retain());
    EXPECT_TRUE(m.dup());

    const QMQTT::Message shortForm(0, "t", "p");
    EXPECT_EQ(shortForm, QMQTT::Message(0, "t", "p", 0, false, false));
    EXPECT_NE(shortForm, QMQTT::Message(0, "t", "p", 1));
}

TEST(QmqttMessage, TravelsThroughQueuedSignals)
{
    // A client registers both types, so they can cross threads or be queued.
    QMQTT::Client client(QHostAddress(QHostAddress::LocalHost), 1);
    const QMQTT::Message m(7, "t", "payload", 1);
    EXPECT_EQ(QVariant::fromValue(m).value<QMQTT::Message>(), m);
    EXPECT_NE(QMetaType::type("QMQTT::Message"), QMetaType::UnknownType);
    EXPECT_NE(QMetaType::type("QMQTT::ClientError"), QMetaType::UnknownType);

    QMQTT::Message got;
    QObject::connect(&client, &QMQTT::Client::received, &client,
                     [&](const QMQTT::Message &r) { got = r; }, Qt::QueuedConnection);
    emit client.received(m);
    EXPECT_EQ(got, QMQTT::Message());
    QCoreApplication::processEvents();
    EXPECT_EQ(got, m);
}
