// The command reader on raw payload bytes, as Tamsel gets them from the
// broker, against a reference written here from the command text's reading
// rules: a strict JSON reading of the payload (RFC 8259, UTF-8), the
// top-level object, text fields as strings or "", number fields as whole
// 32-bit numbers or 0, a name given twice refused. Both must accept and
// refuse the same payloads and read the same values for every field; and a
// SLOT command composed again from the fields read must read back the same.
#include "command_message.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace {

const char *const kTextKeys[] = {"CMD", "PWD"};
const char *const kNumberKeys[] = {"ACTIVE_DAY", "PWRON_ENABLE", "PWRON_HOUR", "PWRON_MINUTE",
                                   "PWROFF_ENABLE", "PWROFF_HOUR", "PWROFF_MINUTE"};

// --- the reference ----------------------------------------------------------

// What a member's value is, as far as the reading rules care.
struct Value {
    enum Kind { String, Number, Other } kind = Other;
    std::string text;   // String: UTF-8, escapes decoded
    double number = 0;  // Number
};

class ReferenceReader {
public:
    ReferenceReader(const uint8_t *data, size_t size) : p_(data), end_(data + size)
    {
        skipSpace();
        const bool topObject = p_ < end_ && *p_ == '{';
        // A JSON text of RFC 4627, as Qt 5 reads one: an object or an array
        // at the top (RFC 8259 would take a bare value too).
        if (!topObject && !(p_ < end_ && *p_ == '['))
            return;
        std::map<std::string, Value> members;
        if (!value(topObject ? &members : nullptr, 0))
            return;
        skipSpace();
        if (p_ != end_)
            return;
        parsed = true;
        object = std::move(members);
    }

    bool parsed = false;
    std::map<std::string, Value> object;

    std::string text(const std::string &key) const
    {
        const auto it = object.find(key);
        return it != object.end() && it->second.kind == Value::String ? it->second.text : std::string();
    }
    int32_t number(const std::string &key) const
    {
        const auto it = object.find(key);
        if (it == object.end() || it->second.kind != Value::Number)
            return 0;
        const double d = it->second.number;
        if (std::trunc(d) != d || d < -2147483648.0 || d > 2147483647.0)
            return 0;
        return int32_t(d);
    }

private:
    // Nesting deeper than Qt's parser takes (it refuses past 1024 levels).
    static constexpr int kMaxDepth = 1024;

    void skipSpace()
    {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    bool literal(const char *word)
    {
        const size_t n = std::strlen(word);
        if (size_t(end_ - p_) < n || std::memcmp(p_, word, n) != 0)
            return false;
        p_ += n;
        return true;
    }
    // One value; members of the top-level object go to `into`.
    bool value(std::map<std::string, Value> *into, int depth, Value *out = nullptr)
    {
        skipSpace();
        if (p_ >= end_ || depth > kMaxDepth)
            return false;
        Value v;
        bool ok;
        switch (*p_) {
        case '{': ok = objectValue(into, depth + 1); break;
        case '[': ok = arrayValue(depth + 1); break;
        case '"':
            v.kind = Value::String;
            ok = string(v.text);
            break;
        case 't': ok = literal("true"); break;
        case 'f': ok = literal("false"); break;
        case 'n': ok = literal("null"); break;
        default:
            v.kind = Value::Number;
            ok = numberValue(v.number);
        }
        if (ok && out)
            *out = v;
        return ok;
    }
    bool objectValue(std::map<std::string, Value> *into, int depth)
    {
        ++p_;
        std::map<std::string, Value> names;
        skipSpace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            skipSpace();
            std::string name;
            if (p_ >= end_ || *p_ != '"' || !string(name))
                return false;
            skipSpace();
            if (p_ >= end_ || *p_ != ':')
                return false;
            ++p_;
            Value v;
            if (!value(nullptr, depth, &v))
                return false;
            // A name given twice: the command is refused as a whole.
            if (!names.emplace(name, v).second)
                return false;
            skipSpace();
            if (p_ < end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ < end_ && *p_ == '}') {
                ++p_;
                if (into)
                    *into = std::move(names);
                return true;
            }
            return false;
        }
    }
    bool arrayValue(int depth)
    {
        ++p_;
        skipSpace();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            if (!value(nullptr, depth))
                return false;
            skipSpace();
            if (p_ < end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ < end_ && *p_ == ']') {
                ++p_;
                return true;
            }
            return false;
        }
    }
    static void putUtf8(std::string &out, uint32_t c)
    {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    bool hex4(uint32_t &out)
    {
        if (end_ - p_ < 4)
            return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = char(*p_++);
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= uint32_t(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    // One UTF-8 sequence, well formed (no overlong form, no surrogate, at most U+10FFFF).
    bool utf8(std::string &out)
    {
        const uint8_t b = *p_;
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || end_ - p_ < extra + 1)
            return false;
        uint32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        for (int i = 1; i <= extra; ++i) {
            if ((p_[i] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (p_[i] & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.append(reinterpret_cast<const char *>(p_), size_t(extra + 1));
        p_ += extra + 1;
        return true;
    }
    bool string(std::string &out)
    {
        ++p_;
        for (;;) {
            if (p_ >= end_)
                return false;
            const uint8_t c = *p_;
            if (c == '"') {
                ++p_;
                return true;
            }
            // RFC 8259 wants control characters escaped; Qt 5's parser takes
            // them raw, and no rule of the command text refuses them.
            if (c != '\\') {
                if (!utf8(out))
                    return false;
                continue;
            }
            if (++p_ >= end_)
                return false;
            const char e = char(*p_++);
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t unit = 0;
                if (!hex4(unit))
                    return false;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    uint32_t low = 0;
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                        return false;
                    p_ += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    return false;
                }
                putUtf8(out, unit);
                break;
            }
            default: return false; // the reader refuses these before Qt's parser sees them
            }
        }
    }
    // A number as Qt 5's parser reads one, which is looser than RFC 8259:
    // -?(0|[0-9]*)(\.[0-9]*)?([eE][+-]?[0-9]*)? (".5", "1." and "-.5" too),
    // taken when the whole text converts to a finite double.
    bool numberValue(double &out)
    {
        const uint8_t *start = p_;
        auto digits = [&] {
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9')
                ++p_;
        };
        if (p_ < end_ && *p_ == '-')
            ++p_;
        if (p_ < end_ && *p_ == '0')
            ++p_;
        else
            digits();
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            digits();
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-'))
                ++p_;
            digits();
        }
        const std::string text(reinterpret_cast<const char *>(start), size_t(p_ - start));
        if (text.empty())
            return false;
        char *rest = nullptr;
        out = std::strtod(text.c_str(), &rest);
        return rest == text.c_str() + text.size() && std::isfinite(out);
    }

    const uint8_t *p_;
    const uint8_t *end_;
};

// --- the round trip -----------------------------------------------------------

bool within(qint32 value, qint32 low, qint32 high) { return value >= low && value <= high; }

// The fields of a SLOT command, when every one fits what a composer can send.
bool readSlot(const CommandReader &reader, QString &command, SlotValues &slot)
{
    command = reader.text(QStringLiteral("CMD"));
    if (command != QLatin1String("SLOT1") && command != QLatin1String("SLOT2"))
        return false;
    const qint32 day = reader.number(QStringLiteral("ACTIVE_DAY"));
    const qint32 onEnable = reader.number(QStringLiteral("PWRON_ENABLE"));
    const qint32 offEnable = reader.number(QStringLiteral("PWROFF_ENABLE"));
    const qint32 hours[] = {reader.number(QStringLiteral("PWRON_HOUR")), reader.number(QStringLiteral("PWRON_MINUTE")),
                            reader.number(QStringLiteral("PWROFF_HOUR")), reader.number(QStringLiteral("PWROFF_MINUTE"))};
    if (!within(day, 0, 0xFFFF) || !within(onEnable, 0, 1) || !within(offEnable, 0, 1))
        return false;
    for (qint32 h : hours)
        if (!within(h, 0, 0xFF))
            return false;
    slot.activeDay = quint16(day);
    slot.pwrOnEnable = onEnable != 0;
    slot.pwrOffEnable = offEnable != 0;
    slot.pwrOnHour = quint8(hours[0]);
    slot.pwrOnMinute = quint8(hours[1]);
    slot.pwrOffHour = quint8(hours[2]);
    slot.pwrOffMinute = quint8(hours[3]);
    return true;
}

bool sameSlot(const SlotValues &a, const SlotValues &b)
{
    return a.activeDay == b.activeDay && a.pwrOnEnable == b.pwrOnEnable && a.pwrOnHour == b.pwrOnHour
           && a.pwrOnMinute == b.pwrOnMinute && a.pwrOffEnable == b.pwrOffEnable && a.pwrOffHour == b.pwrOffHour
           && a.pwrOffMinute == b.pwrOffMinute;
}

[[noreturn]] void mismatch(const char *what, const char *key)
{
    std::fprintf(stderr, "the reader and the reference differ: %s %s\n", what, key);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray payload(reinterpret_cast<const char *>(data), int(size));
    const CommandReader reader(payload);
    const ReferenceReader reference(data, size);
    if (reader.parsed() != reference.parsed)
        mismatch(reference.parsed ? "the reader refused what the reference reads" : "the reader took what the reference refuses", "");
    for (const char *key : kTextKeys)
        if (reader.text(QLatin1String(key)).toStdString() != reference.text(key))
            mismatch("the text of", key);
    for (const char *key : kNumberKeys)
        if (reader.number(QLatin1String(key)) != reference.number(key))
            mismatch("the number of", key);
    // A key taken from the input itself, so odd keys are looked up too.
    (void)reader.text(QString::fromUtf8(payload.left(16)));
    (void)reader.number(QString::fromUtf8(payload.right(16)));

    QString command;
    SlotValues slot;
    if (!reader.parsed() || !readSlot(reader, command, slot))
        return 0;
    const QString password = reader.text(QStringLiteral("PWD"));
    const CommandReader again(composeSlotCommand(command, slot, password).toUtf8());
    QString commandAgain;
    SlotValues slotAgain;
    if (!again.parsed() || !readSlot(again, commandAgain, slotAgain) || commandAgain != command
        || !sameSlot(slot, slotAgain) || again.text(QStringLiteral("PWD")) != passwordDigest(password))
        std::abort();
    return 0;
}
