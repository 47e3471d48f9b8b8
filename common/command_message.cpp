#include "command_message.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <limits>

QString passwordDigest(const QString &password)
{
    const QByteArray md5 = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5);
    QString text;
    for (const char byte : md5)
        text += QString::number(static_cast<quint8>(byte), 16);
    return text;
}

QString composeSlotCommand(const QString &command, const SlotValues &slot, const QString &password)
{
    return QString::asprintf(
        "{  \"CMD\": \"%s\",  \"ACTIVE_DAY\": %d,  \"PWRON_ENABLE\": %d,  \"PWRON_HOUR\": %d,  "
        "\"PWRON_MINUTE\": %d,  \"PWROFF_ENABLE\": %d,  \"PWROFF_HOUR\": %d,  \"PWROFF_MINUTE\": %d,  "
        "\"PWD\": \"%s\" }",
        command.toLocal8Bit().constData(), int(slot.activeDay), slot.pwrOnEnable ? 1 : 0,
        int(slot.pwrOnHour), int(slot.pwrOnMinute), slot.pwrOffEnable ? 1 : 0, int(slot.pwrOffHour),
        int(slot.pwrOffMinute), passwordDigest(password).toLatin1().constData());
}

QString composeEdidCommand(const QString &password)
{
    return QString::asprintf("{  \"CMD\": \"%s\",  \"PWD\": \"%s\" }", "EDID",
                             passwordDigest(password).toLatin1().constData());
}

CommandReader::CommandReader(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    parsed_ = error.error == QJsonParseError::NoError;
    if (parsed_ && doc.isObject())
        object_ = doc.object();
}

QString CommandReader::text(const QString &key) const
{
    const QJsonValue value = object_.value(key);
    return value.isString() ? value.toString() : QString();
}

qint32 CommandReader::number(const QString &key) const
{
    const QJsonValue value = object_.value(key);
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::trunc(d) != d)
        return 0;
    if (d < double(std::numeric_limits<qint32>::min()) || d > double(std::numeric_limits<qint32>::max()))
        return 0;
    return static_cast<qint32>(d);
}
