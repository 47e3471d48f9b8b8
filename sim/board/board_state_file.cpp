#include "board_state_file.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace kmui {

namespace {
const char kHeader[] = "kmui-sim state 1";
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
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != kHeader)
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

    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
