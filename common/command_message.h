#pragma once
// The command texts that Brimlet publishes and Tamsel reads, and the password
// digest both sides compare.
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QtGlobal>

struct SlotValues {
    quint16 activeDay = 0;
    bool pwrOnEnable = false;
    quint8 pwrOnHour = 0;
    quint8 pwrOnMinute = 0;
    bool pwrOffEnable = false;
    quint8 pwrOffHour = 0;
    quint8 pwrOffMinute = 0;
};

// MD5 of the UTF-8 bytes, each byte rendered with "%x" (no zero padding), so
// the text is 16 to 32 characters long.
QString passwordDigest(const QString &password);

QString composeSlotCommand(const QString &command, const SlotValues &slot, const QString &password);
QString composeEdidCommand(const QString &password);
// The bytes published for a composed text (Brimlet and brimlet-send alike).
QByteArray commandPayload(const QString &text);

// Reads a received command text by the fixed reading rules: a top level that
// is not an object reads as an empty object, text fields that are missing or
// not strings read as "", number fields read as 0 unless they are a whole
// number within 32 bits.
class CommandReader {
public:
    explicit CommandReader(const QByteArray &payload);

    bool parsed() const { return parsed_; }
    QString text(const QString &key) const;
    qint32 number(const QString &key) const;

private:
    bool parsed_ = false;
    QJsonObject object_;
};
