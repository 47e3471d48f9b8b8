#include "password_input.h"

#include <cerrno>
#include <iterator>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace brimletsend {

PasswordRead firstLineOf(std::FILE *in, std::string &line)
{
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') {
        // One more than the limit is kept, for a CR of a CR LF line end.
        if (line.size() > kMaxPasswordLength)
            return PasswordRead::TooLong;
        line += static_cast<char>(c);
    }
    if (std::ferror(in))
        return PasswordRead::Unreadable;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line.size() > kMaxPasswordLength ? PasswordRead::TooLong : PasswordRead::Ok;
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

// The signals that end or stop a prompt. Their handlers only note them; the
// prompt then puts the terminal back and raises each again by its old
// disposition, so the process ends (or stops) with echo on.
const int kPromptSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
volatile sig_atomic_t g_caught[NSIG];

void noteSignal(int signal)
{
    g_caught[signal] = 1;
}

bool anyCaught()
{
    for (int signal : kPromptSignals)
        if (g_caught[signal])
            return true;
    return false;
}

bool isStop(int signal)
{
    return signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU;
}

enum class Answer { Line, EndOfInput, Interrupted, Stopped, Failed, TooLong };

// One unechoed line from the terminal. Echo goes off before the prompt
// shows, so an answer typed (or pasted) the moment it appears is never
// echoed, and type-ahead is kept.
Answer askOnce(int tty, const char *prompt, std::string &answer)
{
    answer.clear();
    termios saved{};
    if (tcgetattr(tty, &saved) != 0)
        return Answer::Failed;
    struct sigaction note {};
    note.sa_handler = noteSignal;
    sigemptyset(&note.sa_mask);
    // No SA_RESTART: a signal ends the read at once.
    struct sigaction before[std::size(kPromptSignals)];
    for (int signal : kPromptSignals)
        g_caught[signal] = 0;
    for (size_t i = 0; i < std::size(kPromptSignals); ++i)
        sigaction(kPromptSignals[i], &note, &before[i]);

    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    Answer result = Answer::Failed;
    if (tcsetattr(tty, TCSADRAIN, &quiet) == 0 && write(tty, prompt, std::char_traits<char>::length(prompt)) >= 0) {
        for (;;) {
            if (anyCaught()) {
                result = Answer::Interrupted;
                break;
            }
            char c = 0;
            const ssize_t n = read(tty, &c, 1);
            if (n < 0 && errno == EINTR) {
                result = Answer::Interrupted;
                break;
            }
            if (n < 0) {
                result = Answer::Failed;
                break;
            }
            if (n == 0) {
                result = Answer::EndOfInput;
                break;
            }
            if (c == '\n') {
                result = Answer::Line;
                break;
            }
            if (answer.size() > kMaxPasswordLength) {
                result = Answer::TooLong;
                break;
            }
            answer += c;
        }
    }
    tcsetattr(tty, TCSADRAIN, &saved);
    if (result == Answer::Interrupted || result == Answer::EndOfInput)
        (void)!write(tty, "\n", 1); // the line the unechoed answer was left on
    for (size_t i = 0; i < std::size(kPromptSignals); ++i)
        sigaction(kPromptSignals[i], &before[i], nullptr);

    // Each noted signal again, now that the terminal is as it was: one that
    // ends the process ends it here; a stop stops it, and once continued the
    // prompt is asked again from the start.
    bool stopped = false;
    for (int signal : kPromptSignals) {
        if (!g_caught[signal])
            continue;
        stopped = stopped || isStop(signal);
        kill(getpid(), signal);
    }
    if (stopped)
        return Answer::Stopped;
    if (result == Answer::Interrupted)
        result = Answer::Failed; // a signal whose old disposition was to ignore it
    if (!answer.empty() && answer.back() == '\r')
        answer.pop_back();
    if (answer.size() > kMaxPasswordLength)
        result = Answer::TooLong;
    return result;
}

// Asked again after each stop, with echo off again.
Answer ask(int tty, const char *prompt, std::string &answer)
{
    Answer result;
    while ((result = askOnce(tty, prompt, answer)) == Answer::Stopped) {
    }
    return result;
}

} // namespace

PasswordRead askOnTerminal(std::string &password)
{
    const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return PasswordRead::NoTerminal;
    PasswordRead result = PasswordRead::Ok;
    std::string again;
    const Answer first = ask(tty, "Password: ", password);
    if (first == Answer::TooLong)
        result = PasswordRead::TooLong;
    else if (first == Answer::EndOfInput || (first == Answer::Line && password.empty()))
        result = PasswordRead::NoAnswer;
    else if (first != Answer::Line)
        result = PasswordRead::NoTerminal;
    else {
        const Answer second = ask(tty, "Confirm password: ", again);
        if (second == Answer::TooLong)
            result = PasswordRead::TooLong;
        else if (second == Answer::EndOfInput)
            result = PasswordRead::NoAnswer;
        else if (second != Answer::Line)
            result = PasswordRead::NoTerminal;
        else if (password != again)
            result = PasswordRead::Mismatch;
    }
    close(tty);
    return result;
}

void keepSecretsOutOfCoreDumps()
{
#ifdef __linux__
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace brimletsend
