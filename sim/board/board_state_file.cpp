#include "board_state_file.h"

#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace kmui {

namespace {
const char kHeader[] = "kmui-sim state 1";
// A few hundred bytes in practice; more is not a state file of ours.
const size_t kMaxStateFile = 1 << 20;
}

std::string bytesToHex(const uint8_t *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hexToBytes(const std::string &hex, uint8_t *bytes, size_t count)
{
    if (hex.size() != count * 2)
        return false;
    for (char c : hex)
        if (hexDigit(c) < 0)
            return false;
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(hexDigit(hex[2 * i]) << 4 | hexDigit(hex[2 * i + 1]));
    return true;
}

StateMap loadStateFile(const std::string &path)
{
    StateMap state;
    // Not through a link: in a shared place it could name anyone's file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return state;
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 && text.size() < kMaxStateFile)
        text.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        return state;
    while (std::getline(in, line)) {
        auto space = line.find(' ');
        if (space == std::string::npos || space == 0)
            continue;
        state[line.substr(0, space)] = line.substr(space + 1);
    }
    return state;
}

bool saveStateFile(const std::string &path, const StateMap &state)
{
    std::string text = std::string(kHeader) + "\n";
    for (const auto &[key, value] : state)
        text += key + " " + value + "\n";

    // A fresh temporary of our own: one left by a board that died is removed
    // (unlink takes a link itself, never what it points at), and O_EXCL with
    // O_NOFOLLOW refuses anything that appears under the name meanwhile.
    const std::string temp = path + ".tmp";
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

} // namespace kmui
