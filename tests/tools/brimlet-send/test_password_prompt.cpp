// brimlet-send's password prompt on a terminal of its own, under a small
// job-control "shell": whatever ends or stops the prompt (a signal, Ctrl-Z,
// end of input), the terminal is left with echo on, and while it holds a
// password the process does not dump core.
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kSend = HALDEN_BIN_DIR "/brimlet-send";

// What the shell reports about its one job.
struct JobEvent {
    enum Kind : int { Started, Stopped, Exited, Signalled } kind;
    int value;     // pid, stop signal, exit status or terminating signal
    int coreDump;  // for Signalled
};

// brimlet-send as the foreground job of a pseudo-terminal whose session
// leader acts as its shell: the job runs in a process group of its own (so
// Ctrl-Z really stops it), the shell reports each change of the job and sends
// SIGCONT ("fg") when told.
class PromptOnTerminal {
public:
    PromptOnTerminal(const std::vector<std::string> &args, uid_t runAs)
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        slave_ = ptsname(master_);
        int events[2], commands[2];
        if (pipe2(events, O_CLOEXEC) != 0 || pipe2(commands, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> argv{kSend};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> raw;
        for (std::string &a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        shell_ = fork();
        if (shell_ == 0) {
            close(events[0]);
            close(commands[1]);
            runShell(raw.data(), runAs, events[1], commands[0]);
        }
        close(events[1]);
        close(commands[0]);
        events_ = events[0];
        commands_ = commands[1];
        JobEvent started{};
        if (nextEvent(started, 10000) && started.kind == JobEvent::Started)
            job_ = started.value;
    }

    ~PromptOnTerminal()
    {
        if (job_ > 0)
            kill(-job_, SIGKILL);
        if (shell_ > 0) {
            kill(shell_, SIGKILL);
            waitpid(shell_, nullptr, 0);
        }
        for (int fd : {master_, events_, commands_})
            if (fd >= 0)
                close(fd);
    }

    bool ok() const { return job_ > 0; }
    pid_t job() const { return job_; }

    // Reads what the terminal shows until `text` occurs `count` times.
    bool waitFor(const std::string &text, int count = 1, int timeoutMs = 20000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (occurrences(text) < count && std::chrono::steady_clock::now() < end)
            readSome(100);
        return occurrences(text) >= count;
    }
    void type(const std::string &bytes) { (void)!write(master_, bytes.data(), bytes.size()); }
    const std::string &shown() const { return shown_; }

    // Whether the terminal echoes what is typed now.
    bool echoOn() const
    {
        const int fd = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        const bool got = fd >= 0 && tcgetattr(fd, &t) == 0;
        if (fd >= 0)
            close(fd);
        return got && (t.c_lflag & ECHO) != 0;
    }

    bool nextEvent(JobEvent &event, int timeoutMs)
    {
        pollfd p{events_, POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            readSome(0);
            if (poll(&p, 1, 50) > 0)
                return read(events_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
        }
        return false;
    }
    void continueJob() { (void)!write(commands_, "c", 1); }

private:
    // The child: session leader with the terminal, its job in a group of its own.
    [[noreturn]] void runShell(char **argv, uid_t runAs, int events, int commands)
    {
        setsid();
        const int tty = open(slave_.c_str(), O_RDWR);
        if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0)
            _exit(126);
        const pid_t job = fork();
        if (job == 0) {
            setpgid(0, 0);
            signal(SIGTTOU, SIG_IGN);
            tcsetpgrp(tty, getpid());
            signal(SIGTTOU, SIG_DFL);
            dup2(tty, 0);
            dup2(tty, 1);
            dup2(tty, 2);
            if (runAs != geteuid() && (setresgid(runAs, runAs, runAs) != 0 || setresuid(runAs, runAs, runAs) != 0))
                _exit(125);
            execv(argv[0], argv);
            _exit(127);
        }
        setpgid(job, job);
        JobEvent e{JobEvent::Started, job, 0};
        (void)!write(events, &e, sizeof e);
        for (;;) {
            int status = 0;
            if (waitpid(job, &status, WUNTRACED) != job)
                _exit(1);
            if (WIFSTOPPED(status)) {
                e = {JobEvent::Stopped, WSTOPSIG(status), 0};
                (void)!write(events, &e, sizeof e);
                char c;
                if (read(commands, &c, 1) != 1)
                    _exit(1);
                kill(-job, SIGCONT);
                continue;
            }
            if (WIFEXITED(status))
                e = {JobEvent::Exited, WEXITSTATUS(status), 0};
            else
                e = {JobEvent::Signalled, WTERMSIG(status), WCOREDUMP(status) ? 1 : 0};
            (void)!write(events, &e, sizeof e);
            _exit(0);
        }
    }

    void readSome(int timeoutMs)
    {
        pollfd p{master_, POLLIN, 0};
        char buf[512];
        while (poll(&p, 1, timeoutMs) > 0) {
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0)
                return;
            shown_.append(buf, static_cast<size_t>(n));
            timeoutMs = 0;
        }
    }
    int occurrences(const std::string &text) const
    {
        int n = 0;
        for (size_t at = shown_.find(text); at != std::string::npos; at = shown_.find(text, at + text.size()))
            ++n;
        return n;
    }

    int master_ = -1;
    std::string slave_;
    pid_t shell_ = -1;
    pid_t job_ = -1;
    int events_ = -1;
    int commands_ = -1;
    std::string shown_;
};

const std::vector<std::string> kDryRun{"edid", "--dry-run", "--topic", "t"};

struct EndingCase {
    const char *name;
    const char *keys;  // typed at the prompt; empty: the signal is sent by kill
    int signal;
};

class PromptEndedBySignal : public ::testing::TestWithParam<EndingCase> {};

TEST_P(PromptEndedBySignal, LeavesTheTerminalEchoingAndDiesByThatSignal)
{
    PromptOnTerminal prompt(kDryRun, geteuid());
    ASSERT_TRUE(prompt.ok());
    ASSERT_TRUE(prompt.waitFor("Password: ")) << prompt.shown();
    EXPECT_FALSE(prompt.echoOn()) << "the prompt echoes";
    prompt.type("half-typ");
    if (*GetParam().keys)
        prompt.type(GetParam().keys);
    else
        kill(prompt.job(), GetParam().signal);
    JobEvent end{};
    ASSERT_TRUE(prompt.nextEvent(end, 20000));
    EXPECT_EQ(end.kind, JobEvent::Signalled) << "status " << end.value;
    EXPECT_EQ(end.value, GetParam().signal);
    EXPECT_TRUE(prompt.echoOn()) << "the terminal was left without echo";
    EXPECT_EQ(prompt.shown().find("half-typ"), std::string::npos) << prompt.shown();
}

INSTANTIATE_TEST_SUITE_P(Signals, PromptEndedBySignal,
                         ::testing::Values(EndingCase{"CtrlC", "\x03", SIGINT}, EndingCase{"CtrlBackslash", "\x1c", SIGQUIT},
                                           EndingCase{"Term", "", SIGTERM}, EndingCase{"Hangup", "", SIGHUP}),
                         [](const auto &info) { return std::string(info.param.name); });

// Ctrl-Z at the prompt, then "fg": stopped with echo on (whatever the user
// types into the shell meanwhile shows), asked again with echo off after.
TEST(PasswordPrompt, CtrlZStopsWithEchoOnAndFgAsksAgainWithoutEcho)
{
    PromptOnTerminal prompt(kDryRun, geteuid());
    ASSERT_TRUE(prompt.ok());
    ASSERT_TRUE(prompt.waitFor("Password: ")) << prompt.shown();
    prompt.type("partly\x1a");
    JobEvent stopped{};
    ASSERT_TRUE(prompt.nextEvent(stopped, 20000));
    ASSERT_EQ(stopped.kind, JobEvent::Stopped);
    EXPECT_TRUE(prompt.echoOn()) << "stopped with echo off";

    prompt.continueJob();
    ASSERT_TRUE(prompt.waitFor("Password: ", 2)) << prompt.shown();
    EXPECT_FALSE(prompt.echoOn()) << "asked again with echo on";
    prompt.type("Zebra-Quartz\n");
    ASSERT_TRUE(prompt.waitFor("Confirm password: ")) << prompt.shown();
    prompt.type("Zebra-Quartz\n");
    JobEvent end{};
    ASSERT_TRUE(prompt.nextEvent(end, 20000));
    EXPECT_EQ(end.kind, JobEvent::Exited);
    EXPECT_EQ(end.value, 0) << prompt.shown();
    prompt.waitFor("\"CMD\": \"EDID\"", 1, 2000);
    EXPECT_NE(prompt.shown().find("t\t{  \"CMD\": \"EDID\""), std::string::npos) << prompt.shown();
    EXPECT_EQ(prompt.shown().find("Zebra"), std::string::npos) << "echoed: " << prompt.shown();
    EXPECT_TRUE(prompt.echoOn());
}

struct NoAnswerCase {
    const char *name;
    const char *keys;
};

class PromptWithoutAnswer : public ::testing::TestWithParam<NoAnswerCase> {};

// End of input or an empty answer is no password: nothing is sent or
// printed, and the reason is one line (exit 66).
TEST_P(PromptWithoutAnswer, SendsNothingAndSaysSo)
{
    PromptOnTerminal prompt(kDryRun, geteuid());
    ASSERT_TRUE(prompt.ok());
    ASSERT_TRUE(prompt.waitFor("Password: ")) << prompt.shown();
    prompt.type(GetParam().keys);
    JobEvent end{};
    ASSERT_TRUE(prompt.nextEvent(end, 20000));
    EXPECT_EQ(end.kind, JobEvent::Exited);
    EXPECT_EQ(end.value, 66);
    prompt.waitFor("nothing was sent", 1, 2000);
    EXPECT_NE(prompt.shown().find("brimlet-send: no password was given; nothing was sent"), std::string::npos)
        << prompt.shown();
    EXPECT_EQ(prompt.shown().find("\"CMD\""), std::string::npos) << "a command was printed: " << prompt.shown();
    EXPECT_TRUE(prompt.echoOn());
}

INSTANTIATE_TEST_SUITE_P(Answers, PromptWithoutAnswer,
                         ::testing::Values(NoAnswerCase{"CtrlD", "\x04"}, NoAnswerCase{"EmptyLine", "\n"},
                                           NoAnswerCase{"CtrlDAtTheConfirmation", "something\n\x04"}),
                         [](const auto &info) { return std::string(info.param.name); });

// A process that may dump core hands the password to whoever reads the dump.
// The kernel shows which it is: /proc/PID of a process that may not dump
// belongs to root, whoever runs it.
TEST(PasswordPrompt, TheProcessMayNotDumpCoreWhileItAsks)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "telling a non-dumpable process apart needs it to run as another user, which only root can do";
    constexpr uid_t kUser = 65534;
    PromptOnTerminal prompt(kDryRun, kUser);
    ASSERT_TRUE(prompt.ok());
    ASSERT_TRUE(prompt.waitFor("Password: ")) << prompt.shown();
    struct stat st {};
    ASSERT_EQ(stat(("/proc/" + std::to_string(prompt.job()) + "/status").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "the process is dumpable (its /proc entry is its user's)";
}

} // namespace
