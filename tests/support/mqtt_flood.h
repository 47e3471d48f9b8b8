#pragma once
// A fast MQTT publisher for flood tests: one libmosquitto connection that
// sends QoS 0 messages as fast as the socket takes them (mosquitto_pub would
// start a process per message).
//
//   halden::test::MqttFlood flood(broker.port());
//   ASSERT_TRUE(flood.connected());
//   flood.publish("site/topic", payload);    // queued, sent by the client's thread
//   ASSERT_TRUE(flood.drain(30000));         // every queued byte written
#include <cstdint>
#include <string>

struct mosquitto;

namespace halden::test {

class MqttFlood {
public:
    explicit MqttFlood(uint16_t port);
    ~MqttFlood();
    MqttFlood(const MqttFlood &) = delete;
    MqttFlood &operator=(const MqttFlood &) = delete;

    bool connected() const { return connected_; }
    bool publish(const std::string &topic, const std::string &payload);
    // Waits until the queue is written out; false after timeoutMs.
    bool drain(int timeoutMs);

private:
    mosquitto *client_ = nullptr;
    bool connected_ = false;
};

} // namespace halden::test
