#include "password_input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace brimletsend {

PasswordRead firstLineOf(std::FILE *in, std::string &line)
{
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (std::ferror(in))
        return PasswordRead::Unreadable;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return PasswordRead::Ok;
}

PasswordRead firstLineOfFile(const std::string &path, std::string &line)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return PasswordRead::Unreadable;
    const PasswordRead r = firstLineOf(f, line);
    std::fclose(f);
    return r;
}

namespace {

// One unechoed line from the terminal; the echo comes back whatever happens.
// Echo goes off before the prompt shows, so an answer typed (or pasted) the
// moment the prompt appears is never echoed, and type-ahead is kept.
bool askOnce(int tty, const char *prompt, std::string &answer)
{
    termios saved{};
    if (tcgetattr(tty, &saved) != 0)
        return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (tcsetattr(tty, TCSADRAIN, &quiet) != 0)
        return false;
    bool ok = write(tty, prompt, std::char_traits<char>::length(prompt)) >= 0;
    answer.clear();
    char c = 0;
    ssize_t n = 0;
    while (ok && (n = read(tty, &c, 1)) == 1 && c != '\n')
        answer += c;
    tcsetattr(tty, TCSADRAIN, &saved);
    if (!answer.empty() && answer.back() == '\r')
        answer.pop_back();
    return ok && n >= 0;
}

} // namespace

PasswordRead askOnTerminal(std::string &password)
{
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return PasswordRead::NoTerminal;
    std::string again;
    const bool read = askOnce(tty, "Password: ", password) && askOnce(tty, "Confirm password: ", again);
    close(tty);
    if (!read)
        return PasswordRead::NoTerminal;
    return password == again ? PasswordRead::Ok : PasswordRead::Mismatch;
}

} // namespace brimletsend
