#include "ini_store.h"

#include "platform/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum IniLineKind : unsigned char { IniSection = 1, IniKeyValue = 2, IniOther = 3 };

// A line keeps the bytes it was read with, whatever its length and even with
// a NUL inside, so a rewrite never changes a line nobody set. Lookups read the
// text up to its first NUL, as a C string.
struct IniLine {
    IniLineKind kind;
    char *text;     // `length` bytes plus a terminating NUL
    size_t length;
    IniLine *previous;
    IniLine *next;
};

struct IniDocument {
    IniLine *first;
    IniLine *last;
    FILE *file;
    bool byteOrderMark;  // the file began with a UTF-8 byte-order mark
    char valueBuffer[256];
};

const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// Limits of the record layout (characters, terminator not counted).
constexpr size_t kMaxSectionName = 129;
constexpr size_t kMaxKeyName = 127;
constexpr size_t kMaxValue = 127;
constexpr size_t kMaxComposedLine = 255;

struct IniKeyLookup {
    IniLine *sectionLine;
    IniLine *keyLine;
    char keyName[kMaxKeyName + 1];
    char value[kMaxValue + 1];
    char comment[256];
};

IniDocument g_document;

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// ASCII case-insensitive equality of two whole texts (C locale upper-casing).
bool equalsIgnoringCase(const char *a, size_t aLength, const char *b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

// Copies at most `size - 1` characters of [text, text + length) and terminates.
void copyCut(char *out, size_t size, const char *text, size_t length)
{
    const size_t n = length < size - 1 ? length : size - 1;
    memcpy(out, text, n);
    out[n] = '\0';
}

char *duplicate(const char *text, size_t length)
{
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy) {
        memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

IniLineKind classify(const char *text)
{
    const char *semicolon = strchr(text, ';');
    const size_t length = semicolon ? size_t(semicolon - text) : strlen(text);
    const bool open = memchr(text, '[', length) != nullptr;
    const bool close = memchr(text, ']', length) != nullptr;
    if (open && close)
        return IniSection;
    return memchr(text, '=', length) ? IniKeyValue : IniOther;
}

void IniFreeLines()
{
    IniLine *line = g_document.first;
    while (line) {
        IniLine *next = line->next;
        free(line->text);
        free(line);
        line = next;
    }
    g_document.first = nullptr;
    g_document.last = nullptr;
    g_document.byteOrderMark = false;
}

void linkAtEnd(IniLine *line)
{
    line->previous = g_document.last;
    line->next = nullptr;
    if (g_document.last)
        g_document.last->next = line;
    else
        g_document.first = line;
    g_document.last = line;
}

IniLine *newLine(IniLineKind kind, const char *text, size_t length)
{
    IniLine *line = static_cast<IniLine *>(malloc(sizeof(IniLine)));
    if (!line)
        return nullptr;
    line->text = duplicate(text, length);
    if (!line->text) {
        free(line);
        return nullptr;
    }
    line->length = length;
    line->kind = kind;
    line->previous = nullptr;
    line->next = nullptr;
    return line;
}

bool IniAppendLine(IniLineKind kind, const char *text)
{
    IniLine *line = static_cast<IniLine *>(malloc(sizeof(IniLine)));
    if (!line) {
        IniFreeLines();
        return false;
    }
    line->length = strlen(text);
    line->text = duplicate(text, line->length);
    if (!line->text) {
        free(line);
        return false;
    }
    line->kind = kind;
    linkAtEnd(line);
    return true;
}

bool IniInsertLineAfter(IniLine *after, IniLineKind kind, const char *text)
{
    if (!after)
        return false;
    IniLine *line = newLine(kind, text, strlen(text));
    if (!line)
        return false;
    line->next = after->next;
    line->previous = after;
    if (after->next)
        after->next->previous = line;
    after->next = line;
    if (g_document.last == after)
        g_document.last = line;
    return true;
}

// Reads one line, whatever its length; a CR LF ends it like a plain LF.
// Returns false at end of file with nothing read.
bool readLine(FILE *file, std::string &line)
{
    line.clear();
    int c;
    while ((c = getc(file)) != EOF && c != '\n')
        line += char(c);
    if (c == EOF && line.empty())
        return false;
    if (c == '\n' && !line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

IniLine *IniFindSection(const char *name)
{
    if (strlen(name) > kMaxSectionName)
        return nullptr;
    const std::string header = std::string("[") + name + "]";
    for (IniLine *line = g_document.first; line; line = line->next) {
        if (line->kind == IniSection &&
            equalsIgnoringCase(line->text, strlen(line->text), header.c_str(), header.size()))
            return line;
    }
    return nullptr;
}

bool IniFindKey(const char *section, const char *key, IniKeyLookup *lookup)
{
    lookup->sectionLine = nullptr;
    lookup->keyLine = nullptr;
    IniLine *header = IniFindSection(section);
    if (!header)
        return false;
    lookup->sectionLine = header;
    lookup->keyName[0] = '\0';
    lookup->value[0] = '\0';
    lookup->comment[0] = '\0';
    if (header == g_document.last)
        return false;
    const size_t keyLength = strlen(key);
    if (keyLength > kMaxKeyName)
        return false;

    for (IniLine *line = header->next; line; line = line->next) {
        if (line->kind == IniSection)
            return false;
        if (line->kind != IniKeyValue)
            continue;
        const char *text = line->text;
        const char *semicolon = strchr(text, ';');
        const size_t bodyLength = semicolon ? size_t(semicolon - text) : strlen(text);
        const char *equals = static_cast<const char *>(memchr(text, '=', bodyLength));
        if (!equals)
            continue;
        const size_t nameLength = size_t(equals - text);
        // A name longer than any key can be never matches: cutting it could
        // make it look like another key.
        if (!equalsIgnoringCase(text, nameLength, key, keyLength))
            continue;
        copyCut(lookup->keyName, sizeof lookup->keyName, text, nameLength);
        copyCut(lookup->value, sizeof lookup->value, equals + 1, bodyLength - nameLength - 1);
        if (semicolon)
            copyCut(lookup->comment, sizeof lookup->comment, semicolon, strlen(semicolon));
        lookup->keyLine = line;
        return true;
    }
    return false;
}

// "key=value" plus an optional comment, cut to the longest line a set may compose.
std::string composeKeyLine(const char *key, const char *value, const char *comment)
{
    std::string cutValue(value, strnlen(value, kMaxValue));
    std::string line = std::string(key) + "=" + cutValue + comment;
    if (line.size() > kMaxComposedLine)
        line.resize(kMaxComposedLine);
    return line;
}

long clampToInt(long value)
{
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return value;
}

} // namespace

bool IniLoad(const char *path)
{
    IniFreeLines();
    if (!path)
        return false;
    // Binary read: line ends are handled by readPiece the same way everywhere.
    g_document.file = fopen(path, "rb");
    if (!g_document.file)
        return false;

    // A byte-order mark (a Windows editor's "UTF-8 with BOM") is not part of
    // the first line; it is written back on save.
    char mark[3];
    g_document.byteOrderMark = fread(mark, 1, 3, g_document.file) == 3 && memcmp(mark, kUtf8ByteOrderMark, 3) == 0;
    if (!g_document.byteOrderMark)
        rewind(g_document.file);

    std::string text;
    while (readLine(g_document.file, text)) {
        IniLine *line = newLine(classify(text.c_str()), text.data(), text.size());
        if (!line) {
            // The stream stays open until IniClose.
            IniFreeLines();
            return false;
        }
        linkAtEnd(line);
    }
    fclose(g_document.file);
    g_document.file = nullptr;
    return true;
}

bool IniSave(const char *path)
{
    if (!path) {
        IniFreeLines();
        return false;
    }
    // Write beside the file and move over it only when everything is written,
    // so a failing save never leaves a truncated settings file behind. What
    // an earlier writer that was killed left is tidied first.
    removeStaleTemps(path);
    std::string tempPath;
    g_document.file = openTempBeside(path, tempPath);
    if (!g_document.file) {
        IniFreeLines();
        return false;
    }
    bool ok = !g_document.byteOrderMark || fwrite(kUtf8ByteOrderMark, 1, 3, g_document.file) == 3;
    for (IniLine *line = g_document.first; line && ok; line = line->next)
        ok = fwrite(line->text, 1, line->length, g_document.file) == line->length
             && fwrite("\r\n", 1, 2, g_document.file) == 2;
    ok = finishTemp(g_document.file) && ok;
    g_document.file = nullptr;
    if (ok)
        ok = replaceFile(tempPath.c_str(), path);
    if (!ok) {
        removeFile(tempPath.c_str());
        IniFreeLines();
    }
    return ok;
}

void IniClose()
{
    IniFreeLines();
    if (g_document.file) {
        fclose(g_document.file);
        g_document.file = nullptr;
    }
}

const char *IniGetString(const char *section, const char *key, const char *defaultValue)
{
    if (!section || !key || !defaultValue)
        return defaultValue;
    IniKeyLookup lookup;
    if (!IniFindKey(section, key, &lookup))
        return defaultValue;
    copyCut(g_document.valueBuffer, sizeof g_document.valueBuffer, lookup.value, strlen(lookup.value));
    return g_document.valueBuffer;
}

int IniGetInt(const char *section, const char *key, int defaultValue)
{
    char text[16];
    snprintf(text, sizeof text, "%d", defaultValue);
    const char *value = IniGetString(section, key, text);
    // strtol as a 32-bit long would give it: out-of-range numbers saturate.
    return int(clampToInt(strtol(value, nullptr, 0)));
}

bool IniGetBool(const char *section, const char *key, bool defaultValue)
{
    const char *value = IniGetString(section, key, defaultValue ? "1" : "0");
    // atoi's reading without its undefined behaviour on overflow.
    return clampToInt(strtol(value, nullptr, 10)) != 0;
}

void IniSetString(const char *section, const char *key, const char *value)
{
    if (!section || !key || !value)
        return;
    // Over-long names are refused rather than cut: a cut name would address
    // another section or key.
    if (strlen(section) > kMaxSectionName || strlen(key) > kMaxKeyName)
        return;

    IniKeyLookup lookup;
    if (IniFindKey(section, key, &lookup)) {
        const std::string text = composeKeyLine(lookup.keyName, value, lookup.comment);
        char *copy = duplicate(text.c_str(), text.size());
        if (!copy)
            return;
        free(lookup.keyLine->text);
        lookup.keyLine->text = copy;
        lookup.keyLine->length = text.size();
        return;
    }
    const std::string keyLine = composeKeyLine(key, value, "");
    if (lookup.sectionLine) {
        IniInsertLineAfter(lookup.sectionLine, IniKeyValue, keyLine.c_str());
        return;
    }
    const std::string header = std::string("[") + section + "]";
    if (IniAppendLine(IniSection, header.c_str()))
        IniAppendLine(IniKeyValue, keyLine.c_str());
}

void IniSetInt(const char *section, const char *key, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    IniSetString(section, key, text);
}

void IniSetBool(const char *section, const char *key, bool value)
{
    IniSetString(section, key, value ? "1" : "0");
}
