#include "qmqtt_message.h"

namespace QMQTT {

Message::Message(quint16 id, const QString &topic, const QByteArray &payload, quint8 qos,
                 bool retain, bool dup)
    : id_(id)
    , topic_(topic)
    , payload_(payload)
    , qos_(qos)
    , retain_(retain)
    , dup_(dup)
{
}

bool Message::operator==(const Message &other) const
{
    return id_ == other.id_ && topic_ == other.topic_ && payload_ == other.payload_
        && qos_ == other.qos_ && retain_ == other.retain_ && dup_ == other.dup_;
}

} // namespace QMQTT
