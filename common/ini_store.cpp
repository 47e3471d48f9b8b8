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

struct IniLine {
    IniLineKind kind;
    char *text;
    IniLine *previous;
    IniLine *next;
};

struct IniDocument {
    IniLine *first;
    IniLine *last;
    FILE *file;
    char valueBuffer[256];
};

// Limits of the record layout (characters, terminator not counted).
constexpr size_t kMaxLinePiece = 254;
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

char *duplicate(const char *text)
{
    const size_t length = strlen(text);
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy)
        memcpy(copy, text, length + 1);
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

IniLine *newLine(IniLineKind kind, const char *text)
{
    IniLine *line = static_cast<IniLine *>(malloc(sizeof(IniLine)));
    if (!line)
        return nullptr;
    line->text = duplicate(text);
    if (!line->text) {
        free(line);
        return nullptr;
    }
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
    line->text = duplicate(text);
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
    IniLine *line = newLine(kind, text);
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

// Reads one line piece of at most 254 characters. A CR LF ends a line like a
// plain LF. A line end directly behind a full piece belongs to that piece, so
// a line of exactly 254 characters does not grow an empty line behind it.
// Returns false at end of file with nothing read.
bool readPiece(FILE *file, char *buffer)
{
    size_t length = 0;
    int c = EOF;
    while (length < kMaxLinePiece) {
        c = getc(file);
        if (c == EOF || c == '\n')
            break;
        buffer[length++] = char(c);
    }
    if (length == kMaxLinePiece) {
        // Swallow a line end that follows the full piece right away; anything
        // else is the start of the next piece.
        const long mark = ftell(file);
        c = getc(file);
        if (c == '\r' && getc(file) == '\n')
            c = '\n';
        else if (c != '\n' && c != EOF)
            fseek(file, mark, SEEK_SET);
    }
    if (length == 0 && c == EOF)
        return false;
    if (length > 0 && buffer[length - 1] == '\r' && c == '\n')
        --length;
    buffer[length] = '\0';
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

    char buffer[kMaxLinePiece + 2];
    while (readPiece(g_document.file, buffer)) {
        IniLine *line = newLine(classify(buffer), buffer);
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
    // so a failing save never leaves a truncated settings file behind.
    std::string tempPath;
    g_document.file = openTempBeside(path, tempPath);
    if (!g_document.file) {
        IniFreeLines();
        return false;
    }
    bool ok = true;
    for (IniLine *line = g_document.first; line && ok; line = line->next)
        ok = fprintf(g_document.file, "%s\r\n", line->text) >= 0;
    ok = fflush(g_document.file) == 0 && ok && !ferror(g_document.file);
    ok = fclose(g_document.file) == 0 && ok;
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
        char *copy = duplicate(text.c_str());
        if (!copy)
            return;
        free(lookup.keyLine->text);
        lookup.keyLine->text = copy;
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
