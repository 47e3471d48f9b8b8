#include "qmqtt_client.h"

#include "mosquitto_session.h"
#include "socket_state.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>

namespace QMQTT {

namespace {

// libmosquitto's keep-alive bookkeeping (PINGREQ due, PINGRESP overdue)
// only runs when asked; once a second is fine-grained enough for keep-alives
// counted in seconds.
const int kHousekeepingMs = 1000;
const int kPacketsPerWake = 64;

void registerTypesOnce()
{
    static const bool done = [] {
        qRegisterMetaType<QMQTT::Message>("QMQTT::Message");
        qRegisterMetaType<QMQTT::ClientError>("QMQTT::ClientError");
        return true;
    }();
    (void)done;
}

// "halden-" and 16 hex digits: 23 characters, the most MQTT 3.1 allows. The
// digits are the random bits of a new UUID (its fixed version and variant
// digits left out), so each client object of each run has its own.
QString newClientId()
{
    const QString hex = QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex());
    return QStringLiteral("halden-") + hex.left(12) + hex.mid(13, 3) + hex.mid(17, 1);
}

} // namespace

QString errorText(ClientError error)
{
    switch (error) {
    case SocketConnectionRefusedError: return QStringLiteral("the connection was refused");
    case SocketRemoteHostClosedError: return QStringLiteral("the broker closed the connection");
    case SocketHostNotFoundError: return QStringLiteral("the host is not a numeric address");
    case SocketResourceError: return QStringLiteral("out of resources");
    case SocketTimeoutError: return QStringLiteral("no answer to the connection attempt");
    case SocketSslHandshakeFailedError:
        return QStringLiteral("the TLS handshake failed (certificate not trusted, or the CA file cannot be read)");
    case MqttUnacceptableProtocolVersionError: return QStringLiteral("the broker refused the protocol version");
    case MqttIdentifierRejectedError: return QStringLiteral("the broker rejected the client identifier");
    case MqttServerUnavailableError: return QStringLiteral("the broker is unavailable");
    case MqttBadUserNameOrPasswordError: return QStringLiteral("the broker refused the user name or password");
    case MqttNotAuthorizedError: return QStringLiteral("the broker refused the log-in (not authorised)");
    case MqttNoPingResponse: return QStringLiteral("the broker stopped answering");
    case UnknownError: break;
    }
    return QStringLiteral("unknown error");
}

bool isLoginOrTlsError(ClientError error)
{
    return error == MqttBadUserNameOrPasswordError || error == MqttNotAuthorizedError
        || error == SocketSslHandshakeFailedError;
}

namespace {

ClientError connackError(int code)
{
    switch (code) {
    case 1: return MqttUnacceptableProtocolVersionError;
    case 2: return MqttIdentifierRejectedError;
    case 3: return MqttServerUnavailableError;
    case 4: return MqttBadUserNameOrPasswordError;
    case 5: return MqttNotAuthorizedError;
    default: return UnknownError;
    }
}

} // namespace

using detail::SessionEvent;

Client::Client(const QHostAddress &host, quint16 port, QObject *parent)
    : QObject(parent)
    , host_(host)
    , port_(port)
    , clientId_(newClientId())
    , session_(std::make_unique<detail::MosquittoSession>(clientId_.toLatin1()))
    , housekeeping_(new QTimer(this))
{
    registerTypesOnce();
    housekeeping_->setInterval(kHousekeepingMs);
    connect(housekeeping_, &QTimer::timeout, this, &Client::onHousekeeping);
}

Client::~Client()
{
    // Whatever derives from us is already gone: close without a word.
    if (readNotifier_)
        readNotifier_->setEnabled(false);
    if (writeNotifier_)
        writeNotifier_->setEnabled(false);
    session_->disconnect();
    session_->takeEvents();
}

void Client::setHost(const QHostAddress &host)
{
    host_ = host;
}

void Client::setPort(quint16 port)
{
    port_ = port;
}

void Client::setKeepAlive(int seconds)
{
    keepAlive_ = seconds;
}

void Client::setUsername(const QString &user)
{
    username_ = user;
    applySecurity();
}

void Client::setPassword(const QByteArray &password)
{
    password_ = password;
    applySecurity();
}

void Client::setCaFile(const QString &path)
{
    caFile_ = path;
    applySecurity();
}

void Client::applySecurity()
{
    detail::SessionSecurity security;
    security.user = username_.toUtf8();
    security.password = password_;
    security.caFile = caFile_.toLocal8Bit();
    session_->setSecurity(security);
}

void Client::setCleanSession(bool clean)
{
    if (session_->socket() >= 0)
        return;
    cleanSession_ = clean;
    session_ = std::make_unique<detail::MosquittoSession>(clientId_.toLatin1(), clean);
    applySecurity();
}

void Client::setClientId(const QString &id)
{
    if (session_->socket() >= 0 || id.isEmpty())
        return;
    clientId_ = id;
    session_ = std::make_unique<detail::MosquittoSession>(clientId_.toLatin1(), cleanSession_);
    applySecurity();
}

void Client::setConnectTimeout(int milliseconds)
{
    connectTimeoutMs_ = milliseconds;
}

void Client::setWillQos(quint8 qos)
{
    willQos_ = qos;
}

bool Client::isConnectedToHost() const
{
    return detail::socketPeerConnected(session_->socket());
}

bool Client::refreshUp()
{
    if (!up_ && detail::socketPeerConnected(session_->socket()))
        up_ = true;
    return up_;
}

void Client::connectToHost()
{
    if (isConnectedToHost())
        return;
    if (session_->socket() >= 0 && !refreshUp()) {
        if (!attemptOverdue())
            return; // the handshake is still under way: let it finish
        QPointer<Client> self(this);
        giveUpAttempt();
        if (!self || session_->socket() >= 0)
            return;
    }
    if (session_->socket() >= 0) {
        // A connection dead underneath: drop it, so this call starts afresh.
        QPointer<Client> self(this);
        const bool wasUp = refreshUp();
        session_->disconnect();
        settle(wasUp);
        if (!self || session_->socket() >= 0)
            return; // a reaction to the close has already dealt with it
    }
    const bool ipAddress = host_.protocol() == QAbstractSocket::IPv4Protocol
        || host_.protocol() == QAbstractSocket::IPv6Protocol;
    if (!ipAddress) {
        postError(SocketHostNotFoundError);
        return;
    }
    if (!session_->connect(host_.toString().toLatin1(), port_, keepAlive_))
        postError(caFile_.isEmpty() ? SocketConnectionRefusedError : SocketSslHandshakeFailedError);
    attemptAge_.start();
    settle(false);
}

void Client::giveUpAttempt()
{
    // Reported like any failed attempt; the owner retries on its timer.
    postError(SocketTimeoutError);
    session_->disconnect();
    settle(false);
}

bool Client::attemptOverdue() const
{
    return attemptAge_.isValid() && attemptAge_.elapsed() >= connectTimeoutMs_;
}

void Client::disconnectFromHost()
{
    if (session_->socket() < 0)
        return;
    const bool wasUp = refreshUp();
    session_->disconnect();
    settle(wasUp);
}

void Client::subscribe(const QString &topic, quint8 qos)
{
    const bool wasUp = refreshUp();
    session_->subscribe(topic, qos);
    settle(wasUp);
}

quint16 Client::publish(const Message &message)
{
    const bool wasUp = refreshUp();
    const int mid = session_->publish(message);
    settle(wasUp);
    return mid > 0 ? static_cast<quint16>(mid) : 0;
}

void Client::onSocketReadable()
{
    // libmosquitto takes one packet per call. A burst (a flood, a fleet's
    // worth of messages) is taken while it is already here, a few dozen at a
    // time, instead of one per turn of the event loop; the loop still turns
    // between batches, so timers and other sockets get their turn.
    QPointer<Client> self(this);
    for (int n = 0; n < kPacketsPerWake; ++n) {
        const bool wasUp = refreshUp();
        session_->read();
        settle(wasUp);
        if (!self || !detail::socketHasInput(session_->socket()))
            return;
    }
}

void Client::onSocketWritable()
{
    const bool wasUp = refreshUp();
    session_->write();
    settle(wasUp);
}

void Client::onHousekeeping()
{
    const bool wasUp = refreshUp();
    if (!wasUp && attemptOverdue()) {
        giveUpAttempt();
        return;
    }
    session_->misc();
    settle(wasUp);
}

void Client::settle(bool wasUp)
{
    const std::vector<SessionEvent> events = session_->takeEvents();
    watchSocket();
    dispatch(events, wasUp);
}

void Client::watchSocket()
{
    const int fd = session_->socket();
    if (fd != watchedSocket_) {
        // Retired rather than deleted: this may run inside their own signal.
        for (QSocketNotifier *n : {readNotifier_.data(), writeNotifier_.data()}) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
        readNotifier_.clear();
        writeNotifier_.clear();
        watchedSocket_ = fd;
        up_ = false;
        if (fd >= 0) {
            readNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(readNotifier_, &QSocketNotifier::activated, this, &Client::onSocketReadable);
            writeNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(writeNotifier_, &QSocketNotifier::activated, this, &Client::onSocketWritable);
        }
    }
    if (fd >= 0) {
        refreshUp();
        // Writable is nearly always true; only listen while something is queued.
        writeNotifier_->setEnabled(session_->wantWrite());
        if (!housekeeping_->isActive())
            housekeeping_->start();
    } else {
        housekeeping_->stop();
    }
}

void Client::dispatch(const std::vector<SessionEvent> &events, bool wasUp)
{
    // Reactions may call back into this client or delete it; everything they
    // could disturb has been settled before the first signal goes out.
    QPointer<Client> self(this);
    bool up = wasUp;
    for (const SessionEvent &e : events) {
        if (!self)
            return;
        switch (e.kind) {
        case SessionEvent::Connected:
            up = true;
            if (e.code == 0)
                emit connected();
            else
                emit error(connackError(e.code));
            break;
        case SessionEvent::Closed:
            if (e.code == SessionEvent::TlsFailed) {
                emit error(SocketSslHandshakeFailedError);
                if (self && up)
                    emit disconnected();
            } else if (up) {
                if (e.code == SessionEvent::NoPingResponse)
                    emit error(MqttNoPingResponse);
                else if (e.code == SessionEvent::Lost)
                    emit error(SocketRemoteHostClosedError);
                if (self)
                    emit disconnected();
            } else if (e.code != SessionEvent::OnRequest) {
                emit error(SocketConnectionRefusedError);
            }
            up = false;
            break;
        case SessionEvent::Subscribed:
            emit subscribed(e.topic);
            break;
        case SessionEvent::Received:
            emit received(e.message);
            break;
        case SessionEvent::Published:
            emit published(static_cast<quint16>(e.code));
            break;
        }
    }
}

void Client::postError(ClientError e)
{
    // Reported from the event loop, never from inside the caller's own call.
    QMetaObject::invokeMethod(
        this, [this, e] { emit error(e); }, Qt::QueuedConnection);
}

} // namespace QMQTT
