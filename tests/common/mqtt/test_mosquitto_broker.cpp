// The shared broker helper itself: start, publish, subscribe, restart on the
// same port, and stop without leaving anything behind.
#include "mosquitto_broker.h"

#include <gtest/gtest.h>

using namespace halden::test;

TEST(MosquittoBroker, DeliversPublishedMessageToSubscriber)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running()) << broker.outputText();
    MosquittoSubscriber sub(broker, "helper/topic", 1);
    ASSERT_TRUE(sub.ready()) << broker.logText();

    ASSERT_TRUE(mosquittoPublish(broker.port(), "helper/topic", "a b\tc {\"X\":1}", 1, false));
    ASSERT_TRUE(sub.waitForMessages(1, 5000));
    const auto msgs = sub.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].topic, "helper/topic");
    EXPECT_EQ(msgs[0].payload, "a b\tc {\"X\":1}");
    EXPECT_EQ(msgs[0].qos, 1);
    EXPECT_FALSE(msgs[0].retain);
}

TEST(MosquittoBroker, RestartsOnTheSamePort)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    const uint16_t port = broker.port();
    broker.stop();
    EXPECT_FALSE(broker.running());
    EXPECT_FALSE(mosquittoPublish(port, "t", "x"));
    ASSERT_TRUE(broker.start()) << broker.logText();
    EXPECT_EQ(broker.port(), port);
    EXPECT_TRUE(mosquittoPublish(port, "t", "x"));
}

TEST(MosquittoBroker, DeferredBrokerIsNotRunningUntilStarted)
{
    MosquittoBroker broker(MosquittoBroker::Deferred);
    EXPECT_FALSE(broker.running());
    EXPECT_NE(broker.port(), 0);
    EXPECT_FALSE(mosquittoPublish(broker.port(), "t", "x"));
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(broker.waitForLog("running", 3000));
}

TEST(MosquittoBroker, RetainedFlagAndEmptyPayloadAreReported)
{
    MosquittoBroker broker;
    ASSERT_TRUE(mosquittoPublish(broker.port(), "keep", "kept", 0, true));
    MosquittoSubscriber sub(broker, "keep", 0);
    ASSERT_TRUE(sub.ready());
    ASSERT_TRUE(sub.waitForMessages(1, 5000));
    EXPECT_TRUE(sub.messages()[0].retain);
    EXPECT_EQ(sub.messages()[0].payload, "kept");

    ASSERT_TRUE(mosquittoPublish(broker.port(), "keep", "", 0, false));
    ASSERT_TRUE(sub.waitForMessages(2, 5000));
    EXPECT_EQ(sub.messages()[1].payload, "");
}
