// brimlet-send as a whole program: its exit codes and one-line errors, and a
// fleet of whole agents, each on its own simulated board and topic.
#include "kmui_sim_process.h"
#include "mosquitto_broker.h"
#include "run_program.h"
#include "send_options.h"
#include "tamsel_process.h"
#include "temp_dir.h"
#include "wait_for.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace halden::test;

namespace {

const std::string kSend = HALDEN_BIN_DIR "/brimlet-send";

struct OptionCase {
    std::vector<std::string> args;
    bool ok;
    const char *errorPart;
};

} // namespace

TEST(BrimletSendOptions, TableOfCommandLines)
{
    const OptionCase cases[] = {
        {{"slot1"}, true, ""},
        {{"slot2", "--days", "sun,sat", "--on", "07:15", "--off", "off"}, true, ""},
        {{"edid", "--topic", "a", "--topic", "b", "--dry-run"}, true, ""},
        {{}, false, "missing command"},
        {{"slot3"}, false, "unknown command 'slot3'"},
        {{"slot1", "--days", "funday"}, false, "bad days 'funday'"},
        {{"slot1", "--on", "25:00"}, false, "bad time '25:00' for --on"},
        {{"edid", "--on", "08:00"}, false, "belongs to slot1 and slot2"},
        {{"edid", "--port", "70000"}, false, "bad port '70000'"},
        {{"edid", "--timeout", "0"}, false, "bad timeout '0'"},
        {{"edid", "--topic"}, false, "--topic needs a value"},
        {{"edid", "--topic", ""}, false, "empty --topic"},
        {{"edid", "--password", "x"}, false, "never taken from the command line"},
        {{"edid", "--password-file", "f", "--password-stdin"}, false, "only one of"},
        {{"edid", "--mqtt-ca-file", ""}, false, "empty --mqtt-ca-file names no CA file"},
        {{"edid", "--show-digest"}, false, "--show-digest belongs to --dry-run"},
        {{"edid", "--dry-run", "--show-digest"}, true, ""},
        {{"edid", "--frobnicate"}, false, "unknown option '--frobnicate'"},
    };
    for (const OptionCase &c : cases) {
        brimletsend::SendOptions o;
        std::string error;
        EXPECT_EQ(brimletsend::parseSendOptions(c.args, o, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
        }
    }
    brimletsend::SendOptions o;
    std::string error;
    ASSERT_TRUE(brimletsend::parseSendOptions({"slot2", "--days", "mon-fri", "--on", "on", "--topic", "x", "--topic", "y"},
                                              o, error));
    EXPECT_EQ(o.command, brimletsend::Command::Slot2);
    EXPECT_EQ(*o.edit.days, 0x3E);
    EXPECT_TRUE(*o.edit.onEnabled);
    EXPECT_FALSE(o.edit.onHour.has_value()) << "'on' keeps the time of the settings file";
    EXPECT_EQ(o.topics, (std::vector<std::string>{"x", "y"}));
}

TEST(BrimletSendProgram, ExitCodesAndOneLineReasons)
{
    TempDir dir;
    writeFile(dir.file("pw"), "secret\n");
    writeFile(dir.file("empty"), "");
    writeFile(dir.file("blank-line"), "\r\nsecret\n");
    writeFile(dir.file("long"), std::string(4097, 's') + "\n");
    writeFile(dir.file("empty-ca.ini"), "[General]\r\nHost=127.0.0.1\r\nMqttCaFile=\r\n");
    const uint16_t nobody = freeLoopbackPort();
    struct Row {
        std::vector<std::string> args;
        int exitCode;
        std::string errPart;
    } rows[] = {
        {{"edid", "--bogus"}, 64, "unknown option '--bogus'"},
        {{"edid", "--config", dir.file("missing.ini"), "--password-file", dir.file("pw")}, 66, dir.file("missing.ini")},
        {{"edid", "--config", dir.path(), "--password-file", dir.file("pw")}, 66, "cannot read the settings file"},
        {{"edid", "--password-file", dir.file("nope")}, 66, "cannot read the password file"},
        {{"edid", "--host", "broker.example", "--password-file", dir.file("pw")}, 64, "not a numeric address"},
        {{"edid", "--port", std::to_string(nobody), "--timeout", "1", "--password-file", dir.file("pw")}, 2,
         "broker 127.0.0.1:" + std::to_string(nobody) + " not reached within 1 s"},
        // No password is no command: the agent refuses every one without it.
        {{"edid", "--dry-run", "--password-file", dir.file("empty")}, 66, "holds no password"},
        {{"edid", "--dry-run", "--password-file", dir.file("blank-line")}, 66, "holds no password"},
        {{"edid", "--dry-run", "--password-stdin"}, 66, "no password on standard input"},
        {{"edid", "--dry-run", "--password-file", "/dev/zero"}, 66, "is longer than 4096 bytes"},
        {{"edid", "--dry-run", "--password-file", dir.file("long")}, 66, "is longer than 4096 bytes"},
        // An empty CA file (an unset shell variable) would silently mean plain TCP.
        {{"edid", "--dry-run", "--mqtt-ca-file", "", "--password-file", dir.file("pw")}, 64, "empty --mqtt-ca-file"},
        {{"edid", "--dry-run", "--config", dir.file("empty-ca.ini"), "--password-file", dir.file("pw")}, 64,
         "MqttCaFile in " + dir.file("empty-ca.ini") + " is empty"},
        {{"edid", "--show-digest", "--password-file", dir.file("pw")}, 64, "--show-digest belongs to --dry-run"},
    };
    for (const Row &r : rows) {
        std::vector<std::string> args{kSend};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const ProgramResult p = runProgram(args, {}, 20000);
        EXPECT_EQ(p.exitCode, r.exitCode) << r.args[1] << ": " << p.err;
        EXPECT_NE(p.err.find(r.errPart), std::string::npos) << p.err;
        EXPECT_EQ(p.err.find('\n'), p.err.size() - 1) << "one line: " << p.err;
        EXPECT_EQ(p.err.find("secret"), std::string::npos);
    }
    // The longest password taken is 4096 bytes.
    writeFile(dir.file("longest"), std::string(4096, 's') + "\r\n");
    EXPECT_EQ(runProgram({kSend, "edid", "--dry-run", "--password-file", dir.file("longest")}).exitCode, 0);

    // --help describes every option.
    const ProgramResult help = runProgram({kSend, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char *option : {"--days", "--on", "--off", "--config", "--host", "--port", "--topic", "--password-file",
                               "--password-stdin", "--mqtt-user", "--mqtt-password-file", "--mqtt-ca-file",
                               "--timeout", "--dry-run", "--show-digest"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// A dry run prints the digest masked: it opens the board as the password
// does (the agent compares only the digest).
TEST(BrimletSendProgram, DryRunMasksTheDigestUnlessAskedByName)
{
    TempDir dir;
    writeFile(dir.file("pw"), "secret\n");
    const std::string digest = "5ebe2294ecd0e0f08eab7690d2a6ee69"; // MD5 of "secret", %x per byte
    const ProgramResult masked = runProgram({kSend, "edid", "--dry-run", "--topic", "t", "--password-file", dir.file("pw")});
    EXPECT_EQ(masked.exitCode, 0) << masked.err;
    EXPECT_EQ(masked.out, "t\t{  \"CMD\": \"EDID\",  \"PWD\": \"********\" }\n");
    const ProgramResult shown =
        runProgram({kSend, "edid", "--dry-run", "--show-digest", "--topic", "t", "--password-file", dir.file("pw")});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out, "t\t{  \"CMD\": \"EDID\",  \"PWD\": \"" + digest + "\" }\n");
}

// A broker password without TLS goes over the network in clear: said once
// (never the password), and the command still goes.
TEST(BrimletSendProgram, ABrokerPasswordWithoutTlsIsSaidOnce)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    TempDir dir;
    writeFile(dir.file("pw"), "secret\n");
    writeFile(dir.file("Brimlet.ini"), "[General]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.port())
                                           + "\r\nTopicToken=t\r\nMqttUser=ops\r\nMqttPassword=Broker-Secret\r\n");
    const ProgramResult r = runProgram({kSend, "edid", "--config", dir.file("Brimlet.ini"), "--password-file", dir.file("pw")},
                                       {}, 20000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "brimlet-send: The broker password goes over plain TCP (no MqttCaFile): anyone on the way to "
                     "the broker can read it\n");
    EXPECT_EQ(r.err.find("Broker-Secret"), std::string::npos);
}

namespace {

// One whole agent: its simulated board, its folder, its topic.
struct Board {
    Board(const std::string &topic, uint16_t brokerPort)
    {
        EXPECT_TRUE(sim.start()) << sim.error();
        writeFile(work.file("tamsel.ini"), "[General]\nHost=127.0.0.1\nPort=" + std::to_string(brokerPort)
                                               + "\nTopicToken=" + topic + "\nPwd=fleet-pw\n");
        agent = std::make_unique<TamselProcess>(
            HALDEN_BIN_DIR "/Tamsel", work.path(),
            std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "KMUI_RUNTIME_DIR=" + sim.runtimeDir(),
                                     "XDG_RUNTIME_DIR=" + runtime.path()});
    }
    std::string schedule3() const
    {
        const ProgramResult r = runProgram({HALDEN_BIN_DIR "/orvelctl", "--json", "schedule", "get", "3"},
                                           {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()}, 20000);
        return r.out;
    }
    TempDir work{"fleet-board"};
    TempDir runtime{"fleet-rt"};
    KmuiSimProcess sim;
    std::unique_ptr<TamselProcess> agent;
};

} // namespace

TEST(BrimletSendFleet, OneRunSetsScheduleThreeOnEveryListedBoardAndNoOther)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    const char *topics[] = {"a", "b", "c", "elsewhere"};
    std::vector<std::unique_ptr<Board>> boards;
    for (const char *t : topics)
        boards.push_back(std::make_unique<Board>(t, broker.port()));
    const std::string untouched = boards[3]->schedule3();
    for (auto &b : boards)
        ASSERT_TRUE(b->agent->start());
    ASSERT_TRUE(waitFor([&] { return broker.countInLog("Received SUBSCRIBE") >= boards.size(); }, 30000))
        << broker.logText();

    TempDir dir;
    writeFile(dir.file("pw"), "fleet-pw\n");
    const ProgramResult sent = runProgram({kSend, "slot1", "--days", "mon-fri", "--on", "06:30", "--off", "22:10",
                                           "--port", std::to_string(broker.port()), "--topic", "a", "--topic", "b",
                                           "--topic", "c", "--password-file", dir.file("pw")},
                                          {}, 30000);
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    // The three publishes went out in order on one connection.
    EXPECT_EQ(broker.countInLog("New client connected from 127.0.0.1"), boards.size() + 1);

    const std::string expected =
        "{\"onHour\":6,\"onMinute\":30,\"offHour\":22,\"offMinute\":10,\"enableFlags\":3,\"activeDays\":62}\n";
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(waitFor([&] { return boards[i]->schedule3() == expected; }, 15000))
            << topics[i] << ": " << boards[i]->schedule3() << boards[i]->agent->errText();
    EXPECT_EQ(boards[3]->schedule3(), untouched);
}

namespace {

// brimlet-send on a terminal of its own (a pseudo-terminal as its controlling
// terminal): types `lines` when asked, returns what the terminal showed and
// the exit status.
int onTerminal(const std::vector<std::string> &args, const std::vector<std::string> &lines, std::string &shownOut)
{
    // (the support folder's pty.h hides glibc's forkpty, so by hand)
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const std::string slave = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int fd = open(slave.c_str(), O_RDWR);
        if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0)
            _exit(126);
        dup2(fd, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        std::vector<char *> argv;
        std::string program = kSend;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (std::string &a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0)
        return -1;
    size_t typed = 0;
    int status = -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buf[256];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                shownOut.append(buf, static_cast<size_t>(n));
        }
        // Answer each prompt once it shows.
        const size_t prompts = (shownOut.find("Password: ") != std::string::npos)
            + (shownOut.find("Confirm password: ") != std::string::npos);
        while (typed < prompts && typed < lines.size()) {
            const std::string line = lines[typed++] + "\n";
            if (write(master, line.data(), line.size()) < 0)
                break;
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            // What it wrote last may still wait on the terminal.
            pollfd rest{master, POLLIN, 0};
            char buf[256];
            ssize_t n = 0;
            while (poll(&rest, 1, 200) > 0 && (n = read(master, buf, sizeof buf)) > 0)
                shownOut.append(buf, static_cast<size_t>(n));
            close(master);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(master);
    return -1;
}

} // namespace

// Asked twice without echo, as Brimlet's dialog asks: two different answers
// publish nothing and exit 1; the same answer twice sends.
TEST(BrimletSendProgram, TerminalPromptAsksTwiceWithoutEcho)
{
    std::string shownText;
    EXPECT_EQ(onTerminal({"edid", "--dry-run", "--topic", "t"}, {"first-secret", "other-secret"}, shownText), 1)
        << shownText;
    EXPECT_NE(shownText.find("the two passwords differ"), std::string::npos) << shownText;
    EXPECT_EQ(shownText.find("first-secret"), std::string::npos) << "echoed: " << shownText;
    EXPECT_EQ(shownText.find("other-secret"), std::string::npos) << "echoed: " << shownText;
    EXPECT_EQ(shownText.find("\"PWD\""), std::string::npos) << "a command was printed: " << shownText;

    shownText.clear();
    EXPECT_EQ(onTerminal({"edid", "--dry-run", "--topic", "t"}, {"same", "same"}, shownText), 0) << shownText;
    EXPECT_NE(shownText.find("t\t{  \"CMD\": \"EDID\""), std::string::npos) << shownText;
    EXPECT_EQ(shownText.find("same"), std::string::npos) << "echoed: " << shownText;
}
