#pragma once
// A command text read by the reading rules, written apart from the code under
// test so that fuzz targets can compare with it: a strict JSON reading of the
// payload (RFC 8259 and UTF-8, with the few documented leniencies of Qt 5's
// parser that no rule of the command text refuses), the top-level object,
// text fields as strings or "", number fields as whole 32-bit numbers or 0,
// and a name given twice, or an escape JSON does not have, refusing the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace halden::fuzz {

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

} // namespace halden::fuzz
