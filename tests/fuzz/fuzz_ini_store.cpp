// The INI store on file bytes, as a hand-edited settings file gives them:
// load, save unchanged, every getter on keys taken from the file, one set,
// save, load again. Checked against the input itself: the unchanged save is
// the input's lines as they were (comments, unknown keys, order), with CR LF
// line ends; after the set every line of the input is still there in order
// but the one the set replaced. A set value reads back (cut as the store cuts
// it), and saving a document that was saved and loaded again gives the same
// bytes.
#include "ini_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr size_t kMaxValue = 127;

// In memory where there is a tmpfs: every save syncs to disk, and a disk
// would make the target a benchmark of fsync. A plain array, so that it is
// still there when the exit handler removes the folder.
char g_folder[64];

void removeFolder()
{
    for (const char *name : {"/in.ini", "/first.ini", "/second.ini"})
        std::remove((std::string(g_folder) + name).c_str());
    rmdir(g_folder);
}

std::string folder()
{
    if (!g_folder[0]) {
        std::snprintf(g_folder, sizeof g_folder, "%s/halden-fuzz-ini-XXXXXX",
                      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        if (!mkdtemp(g_folder))
            std::abort();
        std::atexit(removeFolder);
    }
    return g_folder;
}

void writeBytes(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
}

std::string readBytes(const std::string &path)
{
    std::string text;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        std::abort();
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    std::fclose(f);
    return text;
}

// Lines of the input as the reader sees them (a NUL ends a C string).
std::vector<std::string> linesOf(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else if (lines.back().size() < 400)
            lines.back() += char(data[i]);
    }
    for (std::string &line : lines)
        line = line.c_str();
    return lines;
}

// The input's lines as a save must write them back: split at LF, one CR
// before it dropped, every other byte kept (a NUL too: lookups stop there, the
// line does not), a UTF-8 byte-order mark kept in front; CR LF after every line.
std::string expectedUnchanged(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string out;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        out = "\xEF\xBB\xBF";
        text.erase(0, 3);
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool last = end == std::string::npos;
        if (last)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!last && !line.empty() && line.back() == '\r')
            line.pop_back();
        out += line;
        out += "\r\n";
        start = end + 1;
    }
    return out;
}

std::vector<std::string> splitCrLf(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// What one set may do to the lines, and nothing else: replace one line where
// it stands (the key was there), insert one (a new key under its section), or
// append two (a new section and its key).
bool oneSetApart(const std::vector<std::string> &before, const std::vector<std::string> &after)
{
    if (after.size() == before.size()) {
        size_t differing = 0;
        for (size_t i = 0; i < before.size(); ++i)
            differing += before[i] != after[i];
        return differing <= 1;
    }
    if (after.size() == before.size() + 1) {
        for (size_t skip = 0; skip < after.size(); ++skip) {
            bool same = true;
            for (size_t i = 0, j = 0; same && i < before.size(); ++i, ++j) {
                if (j == skip)
                    ++j;
                same = before[i] == after[j];
            }
            if (same)
                return true;
        }
        return false;
    }
    return after.size() == before.size() + 2 && std::equal(before.begin(), before.end(), after.begin());
}

// Section and key names a file holds: "[name]" headers and "name=" lines.
std::vector<std::pair<std::string, std::string>> namesOf(const std::vector<std::string> &lines)
{
    std::vector<std::pair<std::string, std::string>> names{{"General", "Pwd"}};
    std::string section = "General";
    for (const std::string &line : lines) {
        const size_t open = line.find('['), close = line.find(']');
        if (open != std::string::npos && close != std::string::npos && open < close)
            section = line.substr(open + 1, close - open - 1);
        else if (line.find('=') != std::string::npos)
            names.emplace_back(section, line.substr(0, line.find('=')));
        if (names.size() >= 16)
            break;
    }
    return names;
}

// Names and values a set can take without changing the file's structure.
bool plainName(const std::string &name, size_t maxLength)
{
    return !name.empty() && name.size() <= maxLength && name.find_first_of(";=[]\r\n") == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string file = folder() + "/in.ini";
    const std::string first = folder() + "/first.ini";
    const std::string second = folder() + "/second.ini";
    writeBytes(file, data, size);
    if (!IniLoad(file.c_str()))
        std::abort();
    if (!IniSave(first.c_str()) || readBytes(first) != expectedUnchanged(data, size)) {
        std::fprintf(stderr, "an unchanged save did not give the input's lines back\n");
        std::abort();
    }

    const std::vector<std::string> lines = linesOf(data, size);
    const auto names = namesOf(lines);
    for (const auto &[section, key] : names) {
        (void)IniGetString(section.c_str(), key.c_str(), "default");
        (void)IniGetInt(section.c_str(), key.c_str(), -1);
        (void)IniGetBool(section.c_str(), key.c_str(), true);
    }

    // Set the last name found to the last line of the file.
    const auto &[section, key] = names.back();
    const std::string value = lines.back();
    IniSetString(section.c_str(), key.c_str(), value.c_str());
    if (plainName(section, 129) && plainName(key, 127) && value.find_first_of(";\r") == std::string::npos) {
        const std::string expected = value.substr(0, kMaxValue);
        if (expected != IniGetString(section.c_str(), key.c_str(), "\x01"))
            std::abort();
    }

    if (!IniSave(first.c_str()))
        std::abort();
    if (!oneSetApart(splitCrLf(expectedUnchanged(data, size)), splitCrLf(readBytes(first)))) {
        std::fprintf(stderr, "a set lost or moved lines of the input\n");
        std::abort();
    }
    if (!IniLoad(first.c_str()) || !IniSave(second.c_str()))
        std::abort();
    if (readBytes(first) != readBytes(second))
        std::abort();
    IniClose();
    return 0;
}
