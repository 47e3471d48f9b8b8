#pragma once
// The MQTT client the broker link builds on: the part of the qmqtt client
// interface that Halden uses, carried out by libmosquitto underneath.
//
// It lives entirely on the thread that owns it and is driven by that thread's
// Qt event loop (socket notifiers and a housekeeping timer); it starts no
// thread and never blocks: a connection attempt only starts a non-blocking
// TCP handshake, to a numeric address, so no name lookup happens either.
// It speaks MQTT 3.1 ("MQIsdp", level 3) with the clean-session flag off (unless
// set), no will, a user name and password only when set, TLS only when a CA file
// is set, and never reconnects on its own.
#include "qmqtt_message.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace QMQTT {

namespace detail {
class MosquittoSession;
struct SessionEvent;
} // namespace detail

enum ClientError {
    UnknownError = 0,
    SocketConnectionRefusedError,
    SocketRemoteHostClosedError,
    SocketHostNotFoundError,
    SocketResourceError,
    SocketTimeoutError,
    SocketSslHandshakeFailedError,
    MqttUnacceptableProtocolVersionError = 1 << 16,
    MqttIdentifierRejectedError,
    MqttServerUnavailableError,
    MqttBadUserNameOrPasswordError,
    MqttNotAuthorizedError,
    MqttNoPingResponse
};

// A short English reason for a diagnostic line ("the broker refused the
// user name or password").
QString errorText(ClientError error);
// A refused log-in or a failed TLS check: settings trouble that retrying
// alone will never mend.
bool isLoginOrTlsError(ClientError error);

class Client : public QObject {
    Q_OBJECT
public:
    explicit Client(const QHostAddress &host = QHostAddress::LocalHost, quint16 port = 1883,
                    QObject *parent = nullptr);
    ~Client() override;

    QHostAddress host() const { return host_; }
    void setHost(const QHostAddress &host);
    quint16 port() const { return port_; }
    void setPort(quint16 port);
    int keepAlive() const { return keepAlive_; }
    void setKeepAlive(int seconds);
    quint8 willQos() const { return willQos_; }
    // Kept for the interface; no will topic is ever set, so nothing goes on the wire.
    void setWillQos(quint8 qos);

    // How long a connection attempt may wait for its TCP handshake before it
    // is given up (error SocketTimeoutError); 10 s unless set.
    int connectTimeout() const { return connectTimeoutMs_; }
    void setConnectTimeout(int milliseconds);

    // Broker log-in (none while the user name is empty) and TLS (on while a
    // CA file is set: the broker's certificate must be signed by it and name
    // the host). They apply from the next connection attempt.
    QString username() const { return username_; }
    void setUsername(const QString &user);
    void setPassword(const QByteArray &password);
    QString caFile() const { return caFile_; }
    void setCaFile(const QString &path);
    // Off unless set (the broker keeps a subscription while the link is
    // away); one-shot senders turn it on. Only while no connection exists.
    void setCleanSession(bool clean);

    // Unique per client object and run unless set, at most 23 characters
    // (the MQTT 3.1 limit). A program's own link sets one that stays the same
    // across its runs (client_identity.h). Only while no connection exists.
    QString clientId() const { return clientId_; }
    void setClientId(const QString &id);

    // Whether the network connection to the broker is up (TCP connected),
    // whether or not the broker has acknowledged the CONNECT yet.
    bool isConnectedToHost() const;

public slots:
    // Starts a new attempt unless the network connection is up or an attempt
    // is still pending (a slow handshake is not dropped for a new one; it
    // ends by itself or at the connect time-out). The outcome arrives later
    // as connected() or error().
    void connectToHost();
    // Sends DISCONNECT when it can and closes the network connection.
    void disconnectFromHost();
    void subscribe(const QString &topic, quint8 qos = 0);
    // Hands the message to libmosquitto; returns the message id it got, or 0
    // when there is no connection to hand it to (the message is then lost).
    quint16 publish(const QMQTT::Message &message);

signals:
    void connected();
    void disconnected();
    void error(const QMQTT::ClientError error);
    void subscribed(const QString &topic);
    // A QoS 0 message has been written to the socket (higher QoS: acknowledged).
    void published(quint16 msgid);
    void received(const QMQTT::Message &message);

private:
    void onSocketReadable();
    void onSocketWritable();
    void onHousekeeping();
    // Notes once the current socket's TCP connection has come up.
    bool refreshUp();
    // After every libmosquitto call: follow its socket, then report.
    void settle(bool wasUp);
    void watchSocket();
    void dispatch(const std::vector<detail::SessionEvent> &events, bool wasUp);
    void postError(ClientError error);
    bool attemptOverdue() const;
    // Closes a handshake that has waited past the connect time-out.
    void giveUpAttempt();

    QHostAddress host_;
    quint16 port_ = 1883;
    int keepAlive_ = 300;
    quint8 willQos_ = 0;
    QString clientId_;
    bool cleanSession_ = false;
    QString username_;
    QByteArray password_;
    QString caFile_;
    void applySecurity();
    std::unique_ptr<detail::MosquittoSession> session_;
    QPointer<QSocketNotifier> readNotifier_;
    QPointer<QSocketNotifier> writeNotifier_;
    int watchedSocket_ = -1;
    bool up_ = false; // TCP connection seen established on the current socket
    int connectTimeoutMs_ = 10000;
    QElapsedTimer attemptAge_; // since the current socket's handshake began
    QTimer *housekeeping_ = nullptr;
};

} // namespace QMQTT

Q_DECLARE_METATYPE(QMQTT::ClientError)
