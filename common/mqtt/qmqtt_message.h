#pragma once
// One MQTT application message as the client hands it around: a plain value.
#include <QByteArray>
#include <QMetaType>
#include <QString>

namespace QMQTT {

class Message {
public:
    Message() = default;
    Message(quint16 id, const QString &topic, const QByteArray &payload, quint8 qos = 0,
            bool retain = false, bool dup = false);

    quint16 id() const { return id_; }
    QString topic() const { return topic_; }
    QByteArray payload() const { return payload_; }
    quint8 qos() const { return qos_; }
    bool retain() const { return retain_; }
    bool dup() const { return dup_; }

    bool operator==(const Message &other) const;
    bool operator!=(const Message &other) const { return !(*this == other); }

private:
    quint16 id_ = 0;
    QString topic_;
    QByteArray payload_;
    quint8 qos_ = 0;
    bool retain_ = false;
    bool dup_ = false;
};

} // namespace QMQTT

Q_DECLARE_METATYPE(QMQTT::Message)
