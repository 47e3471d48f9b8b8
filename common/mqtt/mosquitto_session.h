#pragma once
// One libmosquitto client handle, driven by hand from the owner's thread: no
// libmosquitto thread, no blocking loop, no automatic reconnection. The owner
// watches socket() and wantWrite() and calls read(), write() and misc();
// everything libmosquitto reports through its callbacks is collected as
// events, which the owner takes afterwards. So no owner code ever runs inside
// a libmosquitto call, and the owner may delete itself in reaction to an event.
#include "qmqtt_message.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace QMQTT::detail {

struct SessionEvent {
    enum Kind {
        Connected,      // CONNACK; code is its return code (0 = accepted)
        Closed,         // network connection closed; code is a CloseCause
        Subscribed,     // SUBACK for topic
        Received,       // PUBLISH delivered; message holds it
        Published       // our PUBLISH handed to the socket (QoS 0) or acknowledged
    };
    enum CloseCause { OnRequest = 0, Lost, NoPingResponse, TlsFailed };
    explicit SessionEvent(Kind k) : kind(k) {}
    Kind kind;
    int code = 0;
    QString topic;
    Message message;
};

// Optional log-in and TLS; empty fields mean none.
struct SessionSecurity {
    QByteArray user;
    QByteArray password;
    QByteArray caFile; // when set: TLS, the broker's certificate checked against it
};

class MosquittoSession {
public:
    explicit MosquittoSession(const QByteArray &clientId, bool cleanSession = false);
    ~MosquittoSession();
    MosquittoSession(const MosquittoSession &) = delete;
    MosquittoSession &operator=(const MosquittoSession &) = delete;

    // Socket libmosquitto currently holds, or -1.
    int socket() const;
    bool wantWrite() const;

    // Applies to the next connect().
    void setSecurity(const SessionSecurity &security);

    // Starts a non-blocking connection to a numeric address (closing any
    // earlier socket first). False when it failed at once.
    bool connect(const QByteArray &address, quint16 port, int keepAliveSeconds);
    // Sends DISCONNECT if it can, then makes sure the socket is closed, also
    // one whose TCP handshake is still unanswered. The resulting Closed event
    // has cause OnRequest.
    void disconnect();

    // Returns the message id libmosquitto assigned, or -1 when refused.
    int subscribe(const QString &topic, int qos);
    int publish(const Message &message);

    void read();
    void write();
    void misc();

    std::vector<SessionEvent> takeEvents();

private:
    // Options and callbacks of a fresh (or reinitialised) handle.
    void configure();
    // Reports a close that libmosquitto made without its callback.
    void noteSilentClose(int rc);
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onSubscribe(mosquitto *, void *self, int mid, int qosCount, const int *granted);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onPublish(mosquitto *, void *self, int mid);

    QByteArray clientId_;
    bool cleanSession_ = false;
    SessionSecurity security_;
    mosquitto *handle_ = nullptr;
    std::vector<SessionEvent> events_;
    QHash<int, QString> pendingSubscriptions_;
    bool closingOnRequest_ = false;
};

} // namespace QMQTT::detail
