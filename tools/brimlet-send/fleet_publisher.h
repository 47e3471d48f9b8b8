#pragma once
// One connection to the broker, one publish per topic in order, then a clean
// close: the whole of brimlet-send's network side.
#include "broker_security.h"
#include "qmqtt_client.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace brimletsend {

class FleetPublisher : public QObject {
    Q_OBJECT
public:
    FleetPublisher(const QHostAddress &host, quint16 port, const BrokerSecurity &security, QObject *parent = nullptr);

    // Runs the event loop until every message is written and the connection
    // closed (0), or until the broker was not reached or refused (2, with
    // failure() saying why). Gives up after timeoutSeconds.
    int publish(const QStringList &topics, const QByteArray &payload, int timeoutSeconds);
    QString failure() const { return failure_; }

private:
    void onConnected();
    void onPublished();
    void onError(QMQTT::ClientError error);
    void finish(int code);

    QMQTT::Client client_;
    QTimer retry_;
    QStringList topics_;
    QByteArray payload_;
    int written_ = 0;
    bool closing_ = false;
    int code_ = -1;
    QMQTT::ClientError lastError_ = QMQTT::UnknownError;
    QString failure_;
};

} // namespace brimletsend
