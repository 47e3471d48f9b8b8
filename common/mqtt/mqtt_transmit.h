#pragma once
// The program's one link to the MQTT broker: bound to one broker address,
// port and topic for its whole life. It subscribes to the topic (QoS 1) each
// time the broker accepts the connection, hands every message that arrives to
// its owner through SignalMqttReceived, and retries once a second whenever the
// network connection is down. The host controller's build (MQTT_TRANSMIT_PUBLISH)
// also publishes on the topic.
#include "qmqtt_client.h"
#include "qmqtt_message.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

class QTimer;

class MqttTransmit : public QMQTT::Client {
    Q_OBJECT
public:
    MqttTransmit(const QHostAddress &host, quint16 port, const QString &topic, QObject *parent);
    ~MqttTransmit() override;

    // How often the link tries to reconnect while the connection is down.
    static constexpr int kWatchdogMs = 1000;

#ifdef MQTT_TRANSMIT_PUBLISH
    // QoS 0, not retained, message id 0. Handed to the client as it is, also
    // while the connection is down (it is then lost): no queue of our own.
    void publishPayload(const QByteArray &payload);
#endif

signals:
    void SignalMqttReceived(const QMQTT::Message &message);

public slots:
    void onConnected();
    void onDisconnected();
    void onSubscribed(const QString &topic);
    void onReceived(const QMQTT::Message &message);
    void onError(QMQTT::ClientError error);
    void slot_TimerEvent();

private:
    QTimer *watchdog = nullptr;
    QHostAddress brokerHost;
    quint16 brokerPort = 0;
    QString topic;
    quint8 subscribeQos = 0;
    QMQTT::ClientError lastReported = QMQTT::UnknownError;
};
