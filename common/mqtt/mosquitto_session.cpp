#include "mosquitto_session.h"

#include "socket_state.h"

#include <mosquitto.h>

namespace QMQTT::detail {

namespace {

void initLibraryOnce()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)done;
}

MosquittoSession *sessionOf(void *self)
{
    return static_cast<MosquittoSession *>(self);
}

} // namespace

MosquittoSession::MosquittoSession(const QByteArray &clientId, bool cleanSession)
    : clientId_(clientId)
    , cleanSession_(cleanSession)
{
    initLibraryOnce();
    // The links keep clean session off: the broker may keep their
    // subscription while they are away.
    handle_ = mosquitto_new(clientId_.constData(), cleanSession_, this);
    if (handle_) // else out of memory: every later call reports failure
        configure();
}

void MosquittoSession::configure()
{
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V31);
    mosquitto_connect_callback_set(handle_, &MosquittoSession::onConnect);
    mosquitto_disconnect_callback_set(handle_, &MosquittoSession::onDisconnect);
    mosquitto_subscribe_callback_set(handle_, &MosquittoSession::onSubscribe);
    mosquitto_message_callback_set(handle_, &MosquittoSession::onMessage);
    mosquitto_publish_callback_set(handle_, &MosquittoSession::onPublish);
}

void MosquittoSession::setSecurity(const SessionSecurity &security)
{
    security_ = security;
}

MosquittoSession::~MosquittoSession()
{
    if (handle_)
        mosquitto_destroy(handle_);
}

int MosquittoSession::socket() const
{
    return handle_ ? mosquitto_socket(handle_) : -1;
}

bool MosquittoSession::wantWrite() const
{
    return handle_ && socket() >= 0 && mosquitto_want_write(handle_);
}

bool MosquittoSession::connect(const QByteArray &address, quint16 port, int keepAliveSeconds)
{
    if (!handle_)
        return false;
    disconnect();
    pendingSubscriptions_.clear();
    if (!handle_)
        return false;
    const QByteArray &user = security_.user;
    if (mosquitto_username_pw_set(handle_, user.isEmpty() ? nullptr : user.constData(),
                                  user.isEmpty() || security_.password.isNull() ? nullptr
                                                                                : security_.password.constData())
        != MOSQ_ERR_SUCCESS)
        return false;
    // Fails when the CA file cannot be read; the caller reports it as a TLS failure.
    if (!security_.caFile.isEmpty()
        && mosquitto_tls_set(handle_, security_.caFile.constData(), nullptr, nullptr, nullptr, nullptr)
            != MOSQ_ERR_SUCCESS)
        return false;
    // The _async variant returns as soon as the TCP handshake is under way;
    // with a numeric address no name lookup can hold the caller either.
    return mosquitto_connect_async(handle_, address.constData(), port, keepAliveSeconds)
        == MOSQ_ERR_SUCCESS;
}

void MosquittoSession::disconnect()
{
    if (socket() < 0)
        return;
    closingOnRequest_ = true;
    // Over an established connection this writes DISCONNECT and closes at once.
    mosquitto_disconnect(handle_);
    if (socket() >= 0) {
        // The DISCONNECT could not go out: end the socket ourselves and let
        // libmosquitto notice and close it on this read.
        socketShutdown(socket());
        mosquitto_loop_read(handle_, 1);
    }
    if (socket() >= 0) {
        // A handshake still unanswered cannot be shut down, and libmosquitto
        // has no call that drops it; starting the handle afresh closes it.
        if (mosquitto_reinitialise(handle_, clientId_.constData(), cleanSession_, this) == MOSQ_ERR_SUCCESS) {
            configure();
        } else {
            mosquitto_destroy(handle_);
            handle_ = nullptr;
        }
        events_.push_back(SessionEvent(SessionEvent::Closed)); // cause OnRequest
    }
    closingOnRequest_ = false;
}

int MosquittoSession::subscribe(const QString &topic, int qos)
{
    if (socket() < 0)
        return -1;
    int mid = 0;
    if (mosquitto_subscribe(handle_, &mid, topic.toUtf8().constData(), qos) != MOSQ_ERR_SUCCESS)
        return -1;
    pendingSubscriptions_.insert(mid, topic);
    return mid;
}

int MosquittoSession::publish(const Message &message)
{
    if (socket() < 0)
        return -1;
    int mid = 0;
    const QByteArray payload = message.payload();
    const int rc = mosquitto_publish(handle_, &mid, message.topic().toUtf8().constData(),
                                     payload.size(), payload.constData(), message.qos(),
                                     message.retain());
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void MosquittoSession::read()
{
    // libmosquitto reports "no connection" through the disconnect callback
    // as well, so it is only asked while it holds a socket.
    if (socket() >= 0)
        noteSilentClose(mosquitto_loop_read(handle_, 1));
}

void MosquittoSession::write()
{
    if (socket() >= 0 && mosquitto_want_write(handle_))
        noteSilentClose(mosquitto_loop_write(handle_, 1));
}

void MosquittoSession::misc()
{
    if (socket() >= 0)
        noteSilentClose(mosquitto_loop_misc(handle_));
}

void MosquittoSession::noteSilentClose(int rc)
{
    // A TLS handshake that fails on a later attempt closes the socket without
    // the disconnect callback; the owner must still learn that it ended.
    if (socket() >= 0 || rc == MOSQ_ERR_SUCCESS)
        return;
    for (const SessionEvent &e : events_)
        if (e.kind == SessionEvent::Closed)
            return;
    onDisconnect(handle_, this, rc);
}

std::vector<SessionEvent> MosquittoSession::takeEvents()
{
    std::vector<SessionEvent> out;
    out.swap(events_);
    return out;
}

void MosquittoSession::onConnect(mosquitto *, void *self, int rc)
{
    SessionEvent e(SessionEvent::Connected);
    e.code = rc;
    sessionOf(self)->events_.push_back(e);
}

void MosquittoSession::onDisconnect(mosquitto *, void *self, int rc)
{
    MosquittoSession *s = sessionOf(self);
    SessionEvent e(SessionEvent::Closed);
    if (s->closingOnRequest_)
        e.code = SessionEvent::OnRequest;
    else if (rc == MOSQ_ERR_KEEPALIVE)
        e.code = SessionEvent::NoPingResponse;
    else if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE)
        e.code = SessionEvent::TlsFailed;
    else
        e.code = SessionEvent::Lost;
    s->events_.push_back(e);
}

void MosquittoSession::onSubscribe(mosquitto *, void *self, int mid, int, const int *)
{
    MosquittoSession *s = sessionOf(self);
    SessionEvent e(SessionEvent::Subscribed);
    e.topic = s->pendingSubscriptions_.take(mid);
    s->events_.push_back(e);
}

void MosquittoSession::onPublish(mosquitto *, void *self, int mid)
{
    SessionEvent e(SessionEvent::Published);
    e.code = mid;
    sessionOf(self)->events_.push_back(e);
}

void MosquittoSession::onMessage(mosquitto *, void *self, const mosquitto_message *m)
{
    SessionEvent e(SessionEvent::Received);
    // libmosquitto hands no duplicate flag to this callback.
    e.message = Message(static_cast<quint16>(m->mid), QString::fromUtf8(m->topic),
                        QByteArray(static_cast<const char *>(m->payload), m->payloadlen),
                        static_cast<quint8>(m->qos), m->retain, false);
    sessionOf(self)->events_.push_back(e);
}

} // namespace QMQTT::detail
