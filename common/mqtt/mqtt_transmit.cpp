#include "mqtt_transmit.h"

#include <QDebug>
#include <QTimer>

namespace {
const int kKeepAliveSeconds = 10;
} // namespace

MqttTransmit::MqttTransmit(const QHostAddress &host, quint16 port, const QString &topic,
                           QObject *parent)
    : QMQTT::Client(host, port, parent)
{
    connect(this, &QMQTT::Client::connected, this, &MqttTransmit::onConnected);
    connect(this, &QMQTT::Client::disconnected, this, &MqttTransmit::onDisconnected);
    connect(this, &QMQTT::Client::received, this, &MqttTransmit::onReceived);
    connect(this, &QMQTT::Client::error, this, &MqttTransmit::onError);
    connect(this, &QMQTT::Client::subscribed, this, &MqttTransmit::onSubscribed);

    brokerHost = host;
    brokerPort = port;
    this->topic = topic;
    subscribeQos = 1;

    // No will topic is set, so the will QoS never reaches the wire.
    setWillQos(1);
    setKeepAlive(kKeepAliveSeconds);
    setHost(brokerHost);
    setPort(brokerPort);

    watchdog = new QTimer(this);
    connect(watchdog, SIGNAL(timeout()), this, SLOT(slot_TimerEvent()));
    watchdog->start(kWatchdogMs);
}

MqttTransmit::~MqttTransmit()
{
    disconnectFromHost();
}

#ifdef MQTT_TRANSMIT_PUBLISH
void MqttTransmit::publishPayload(const QByteArray &payload)
{
    const QMQTT::Message message(0, topic, payload, 0, false, false);
    publish(message);
}
#endif

void MqttTransmit::onConnected()
{
    lastReported = QMQTT::UnknownError;
    // On every connection: the broker may or may not have kept the old one.
    subscribe(topic, subscribeQos);
}

void MqttTransmit::onDisconnected()
{
    // Leaves the network side closed for the next watchdog tick to reconnect.
    disconnectFromHost();
}

void MqttTransmit::onSubscribed(const QString &)
{
}

void MqttTransmit::onReceived(const QMQTT::Message &message)
{
    emit SignalMqttReceived(message);
}

void MqttTransmit::onError(QMQTT::ClientError error)
{
    // Failures are not reported: the watchdog keeps retrying, and owners ask
    // isConnectedToHost() for the state. Only a refused log-in or a failed
    // TLS check gets one line (again only when the reason changes), since
    // retrying alone will never mend those.
    if (!QMQTT::isLoginOrTlsError(error) || error == lastReported)
        return;
    lastReported = error;
    qDebug().noquote() << "MQTT broker" << brokerHost.toString() + QLatin1Char(':') + QString::number(brokerPort)
                       << "not reached:" << QMQTT::errorText(error);
}

void MqttTransmit::slot_TimerEvent()
{
    if (!isConnectedToHost())
        connectToHost();
}
