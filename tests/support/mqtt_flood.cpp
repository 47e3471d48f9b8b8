#include "mqtt_flood.h"

#include <chrono>
#include <mosquitto.h>
#include <thread>

namespace halden::test {

MqttFlood::MqttFlood(uint16_t port)
{
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, nullptr);
    if (!client_)
        return;
    connected_ = mosquitto_connect(client_, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS
                 && mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
}

MqttFlood::~MqttFlood()
{
    if (!client_)
        return;
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
}

bool MqttFlood::publish(const std::string &topic, const std::string &payload)
{
    // Keep the queue short, so the test process does not hold the flood in memory.
    for (int i = 0; i < 100000 && mosquitto_want_write(client_); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    return connected_
           && mosquitto_publish(client_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 0, false)
                  == MOSQ_ERR_SUCCESS;
}

bool MqttFlood::drain(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (mosquitto_want_write(client_)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace halden::test
