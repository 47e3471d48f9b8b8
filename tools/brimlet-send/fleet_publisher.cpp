#include "fleet_publisher.h"

#include "client_security.h"

#include <QEventLoop>

namespace brimletsend {

namespace {
// A broker that is starting may refuse for a moment; ask again this often
// until the time-out.
const int kRetryMs = 250;

bool refusesForGood(QMQTT::ClientError e)
{
    return QMQTT::isLoginOrTlsError(e) || e == QMQTT::MqttIdentifierRejectedError
        || e == QMQTT::MqttUnacceptableProtocolVersionError || e == QMQTT::SocketHostNotFoundError;
}
} // namespace

FleetPublisher::FleetPublisher(const QHostAddress &host, quint16 port, const BrokerSecurity &security,
                               QObject *parent)
    : QObject(parent)
    , client_(host, port)
{
    // A one-shot sender leaves no session behind on the broker.
    client_.setCleanSession(true);
    client_.setKeepAlive(10);
    applyBrokerSecurityQuietly(client_, security);
    connect(&client_, &QMQTT::Client::connected, this, &FleetPublisher::onConnected);
    connect(&client_, &QMQTT::Client::published, this, &FleetPublisher::onPublished);
    connect(&client_, &QMQTT::Client::error, this, &FleetPublisher::onError);
    connect(&client_, &QMQTT::Client::disconnected, this, [this] {
        if (closing_)
            finish(0);
    });
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, &client_, &QMQTT::Client::connectToHost);
}

int FleetPublisher::publish(const QStringList &topics, const QByteArray &payload, int timeoutSeconds)
{
    topics_ = topics;
    payload_ = payload;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this, timeoutSeconds] {
        failure_ = QStringLiteral("not reached within %1 s").arg(timeoutSeconds);
        if (lastError_ != QMQTT::UnknownError)
            failure_ += QStringLiteral(" (") + QMQTT::errorText(lastError_) + QLatin1Char(')');
        finish(2);
    });
    deadline.start(timeoutSeconds * 1000);
    client_.setConnectTimeout(timeoutSeconds * 1000);
    retry_.start();
    client_.connectToHost();
    QEventLoop loop;
    while (code_ < 0)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return code_;
}

void FleetPublisher::onConnected()
{
    retry_.stop();
    for (const QString &topic : topics_) {
        // QoS 0, not retained: as the broker link publishes.
        if (client_.publish(QMQTT::Message(0, topic, payload_, 0, false, false)) == 0 && code_ < 0) {
            failure_ = QStringLiteral("lost the connection while publishing");
            finish(2);
            return;
        }
    }
}

void FleetPublisher::onPublished()
{
    if (++written_ == topics_.size() && !closing_) {
        closing_ = true;
        client_.disconnectFromHost();
    }
}

void FleetPublisher::onError(QMQTT::ClientError error)
{
    lastError_ = error;
    if (closing_)
        return;
    if (written_ > 0) {
        failure_ = QStringLiteral("lost the connection after %1 of %2 messages: ").arg(written_).arg(topics_.size())
            + QMQTT::errorText(error);
        finish(2);
    } else if (refusesForGood(error)) {
        failure_ = QStringLiteral("refused: ") + QMQTT::errorText(error);
        finish(2);
    }
}

void FleetPublisher::finish(int code)
{
    if (code_ < 0)
        code_ = code;
    retry_.stop();
}

} // namespace brimletsend
