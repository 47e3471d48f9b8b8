// The agent's copy of the broker link: no publish operation, the rest alike.
#include "mosquitto_broker.h"
#include "mqtt_test_util.h"
#include "mqtt_transmit.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <type_traits>

using namespace halden::test;

namespace {

template <typename T, typename = void>
struct HasPublishPayload : std::false_type {};
template <typename T>
struct HasPublishPayload<T, std::void_t<decltype(std::declval<T &>().publishPayload(QByteArray()))>>
    : std::true_type {};

static_assert(!HasPublishPayload<MqttTransmit>::value, "the agent's link must not publish");

} // namespace

TEST(AgentMqttTransmit, SubscribesAndHandsOnMessages)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    MqttTransmit link(QHostAddress(QHostAddress::LocalHost), broker.port(), "agent/topic", nullptr);
    QSignalSpy received(&link, &MqttTransmit::SignalMqttReceived);
    link.connectToHost();
    const std::string subscription = link.clientId().toStdString() + " 1 agent/topic";
    // The broker log is polled with the event loop running: the link needs it.
    ASSERT_TRUE(waitUntil([&] { return broker.countInLog(subscription) == 1; }, 5000));
    ASSERT_TRUE(mosquittoPublish(broker.port(), "agent/topic", "{\"CMD\":\"EDID\"}"));
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }, 5000));
    EXPECT_EQ(received.at(0).at(0).value<QMQTT::Message>().payload(), QByteArray("{\"CMD\":\"EDID\"}"));
}
