#include "command_message.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <QJsonArray>
#include <QSet>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A name as the parser reads it, escapes decoded, so "A" and "\u0041" match.
QString decodedName(const QByteArray &quoted)
{
    // With its length: Qt 5's QByteArray overload stops at a NUL, which made
    // "A\0x" and "A" one name and refused a command that names neither twice.
    if (!quoted.contains('\\'))
        return QString::fromUtf8(quoted.constData() + 1, quoted.size() - 2);
    const QJsonDocument doc = QJsonDocument::fromJson("[" + quoted + "]");
    return doc.array().at(0).toString();
}

// True when some object in the text names a member twice. Qt 5's parser
// leaks the earlier value of such a member when it is an array or object, so
// a stream of them would grow the agent without bound; a command never has
// them. Text that is not JSON is left for the parser to refuse.
bool hasDuplicateName(const QByteArray &text)
{
    struct Level {
        bool object;
        bool expectName;
        QSet<QString> names;
    };
    std::vector<Level> levels;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' || c == '[') {
            levels.push_back({c == '{', c == '{', {}});
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
        } else if (c == ',') {
            if (!levels.empty() && levels.back().object)
                levels.back().expectName = true;
        } else if (c == '"') {
            const int start = i;
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\')
                    ++i;
            if (i >= text.size())
                return false;
            if (!levels.empty() && levels.back().object && levels.back().expectName) {
                levels.back().expectName = false;
                const QString name = decodedName(text.mid(start, i - start + 1));
                if (levels.back().names.contains(name))
                    return true;
                levels.back().names.insert(name);
            }
        }
    }
    return false;
}

} // namespace

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

namespace {

// The four hex digits of a \u escape at text[at], or -1.
int hexUnit(const QByteArray &text, int at)
{
    if (at + 4 > text.size())
        return -1;
    int unit = 0;
    for (int k = at; k < at + 4; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (!std::isxdigit(c))
            return -1;
        unit = unit * 16 + (std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return unit;
}

// True when a backslash starts no escape of JSON's, or a \u escape names no
// character (half a surrogate pair). Qt 5's parser takes both, and makes text
// of them that is not Unicode (an escaped byte of 0x80 or above, a lone
// surrogate); no command has such a thing.
bool hasForeignEscape(const QByteArray &text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '\\')
            continue;
        if (++i >= text.size() || text[i] == '\0' || !std::strchr("\"\\/bfnrtu", text[i]))
            return true;
        if (text[i] != 'u')
            continue;
        const int unit = hexUnit(text, i + 1);
        if (unit < 0)
            return true;
        i += 4;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return true;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const int low = i + 2 < text.size() && text[i + 1] == '\\' && text[i + 2] == 'u' ? hexUnit(text, i + 3) : -1;
            if (low < 0xDC00 || low > 0xDFFF)
                return true;
            i += 6;
        }
    }
    return false;
}

} // namespace

CommandReader::CommandReader(const QByteArray &payload)
{
    // A payload naming a member twice reads as not parsed (see above); it is
    // checked first, because parsing it is what leaks.
    if (hasDuplicateName(payload) || hasForeignEscape(payload))
        return;
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

QByteArray commandPayload(const QString &text)
{
    return text.toLocal8Bit();
}
