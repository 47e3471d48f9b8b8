// The road of a command from the operator's window to the controller, with
// every piece real: a broker on a loopback port, the simulated board in its
// own runtime folder, Tamsel as a program in its own working folder, and
// Brimlet's window driven here as an operator would (widgets, "Execute",
// the password dialog).
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimeEdit>
#include <array>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

#include "brimlet_test_fixture.h"
#include "kmui_sim_process.h"
#include "mainform.h"
#include "mosquitto_broker.h"
#include "pty.h"
#include "run_program.h"
#include "tamsel_process.h"
#include "temp_dir.h"

namespace {

using namespace halden::test;

const char topic[] = "halden/e2e-road";
const char agentPwd[] = "Road-7";
const char handledLine[] = "slot_mtsBranchReceived::topic = halden/e2e-road";
// The four packets of one EDID re-enumeration, as the emulator receives them.
const char edidPackets[] = "ffee00000002669400ffee00001002f70100ffee0000200255b700ffee00003002c42200";

// onHour, onMinute, offHour, offMinute, enableFlags, activeDays; -1 where a read gave nothing.
struct Record {
    std::array<int, 6> v {-1, -1, -1, -1, -1, -1};
    bool operator==(const Record &o) const { return v == o.v; }
    bool operator!=(const Record &o) const { return v != o.v; }
};

std::string show(const Record &r)
{
    char text[80];
    std::snprintf(text, sizeof text, "%02d:%02d-%02d:%02d flags %d days %d", r.v[0], r.v[1], r.v[2], r.v[3],
                  r.v[4], r.v[5]);
    return text;
}

std::ostream &operator<<(std::ostream &out, const Record &r) { return out << show(r); }

class HaldenRoad : public BrimletFolderTest {
protected:
    void SetUp() override
    {
        BrimletFolderTest::SetUp();
        ASSERT_TRUE(broker.running()) << broker.outputText();
        ASSERT_TRUE(sim.start()) << sim.error();
        ASSERT_TRUE(pty.ok());
        // Read before the agent runs: nobody else talks to the board yet.
        initial3 = readSchedule(3);
        initial4 = readSchedule(4);
        ASSERT_NE(initial3.v[0], -1);

        const std::string port = std::to_string(broker.port());
        writeFile(agentDir.file("tamsel.ini"), "[General]\r\nHost=127.0.0.1\r\nPort=" + port + "\r\nTopicToken=" + topic +
                                                   "\r\nPwd=" + agentPwd + "\r\nEdidSerialPort=" + pty.slavePath() +
                                                   "\r\n");
        writeSettings("[General]\r\nHost=127.0.0.1\r\nPort=" + port + "\r\nTopicToken=" + topic + "\r\n");

        startAgent();
        if (HasFatalFailure())
            return;
        form = std::make_unique<MainForm>();
        form->show();
        const qint64 ms =
            spinUntil([&] { return form->statusBar()->currentMessage() == "Network connected"; }, 8000);
        ASSERT_GE(ms, 0) << "status bar: " << form->statusBar()->currentMessage().toStdString();
    }

    void TearDown() override
    {
        form.reset();
        if (agent) {
            EXPECT_TRUE(agent->running()) << agent->errText();
            agent->stop();
            const std::string err = agent->errText();
            EXPECT_EQ(err.find("AddressSanitizer"), std::string::npos) << err;
            EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        }
        BrimletFolderTest::TearDown();
    }

    void startAgent()
    {
        const size_t before = broker.countInLog("Received SUBSCRIBE");
        agent = std::make_unique<TamselProcess>(
            HALDEN_BIN_DIR "/Tamsel", agentDir.path(),
            std::vector<std::string> {"QT_QPA_PLATFORM=offscreen", "KMUI_RUNTIME_DIR=" + sim.runtimeDir(),
                                      "XDG_RUNTIME_DIR=" + agentRuntime.path()});
        ASSERT_TRUE(agent->start());
        const qint64 ms =
            spinUntil([&] { return broker.countInLog("Received SUBSCRIBE") > before || !agent->running(); }, 20000);
        ASSERT_TRUE(ms >= 0 && agent->running()) << agent->errText() << broker.logText();
        std::printf("agent subscribed %lld ms after start\n", static_cast<long long>(ms));
        ASSERT_NE(agent->errText().find("Serial Port is connected"), std::string::npos) << agent->errText();
    }

    Record readSchedule(int number, std::string *raw = nullptr) const
    {
        const ProgramResult r =
            runProgram({HALDEN_BIN_DIR "/orvelctl", "--json", "schedule", "get", std::to_string(number)},
                       {"KMUI_RUNTIME_DIR=" + sim.runtimeDir()}, 20000);
        if (raw)
            *raw = r.out + r.err;
        Record rec;
        if (r.exitCode != 0)
            return rec;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
        const char *const keys[] = {"onHour", "onMinute", "offHour", "offMinute", "enableFlags", "activeDays"};
        for (size_t i = 0; i < rec.v.size(); ++i)
            rec.v[i] = o.value(QLatin1String(keys[i])).toInt(-1);
        return rec;
    }

    // Reads the schedule until it equals `expected`, at most until `clock`
    // shows `limitMs`. Reads overlapping the agent's writes can come back
    // torn, so only an equal record counts. The last read goes to `last`,
    // the number of reads to `reads`.
    bool waitForRecord(int number, const Record &expected, const QElapsedTimer &clock, qint64 limitMs, Record &last,
                       std::string &raw, int &reads) const
    {
        while (clock.elapsed() < limitMs) {
            last = readSchedule(number, &raw);
            ++reads;
            if (last == expected)
                return true;
            spinUntil([] { return false; }, 100);
        }
        return false;
    }

    void setSlotTwo(int days, bool on, QTime onTime, bool off, QTime offTime)
    {
        const char *const names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        for (int d = 0; d < 7; ++d)
            widget<QCheckBox>(form.get(), (std::string("cbRTS2_") + names[d]).c_str())->setChecked(days & (1 << d));
        widget<QGroupBox>(form.get(), "gbcbRTS2_PwrOn")->setChecked(on);
        widget<QTimeEdit>(form.get(), "tebRTS2_PwrOn")->setTime(onTime);
        widget<QGroupBox>(form.get(), "gbcbRTS2_PwrOff")->setChecked(off);
        widget<QTimeEdit>(form.get(), "tebRTS2_PwrOff")->setTime(offTime);
    }

    // Shows the page and clicks the button while `password` answers the dialog.
    void press(const char *button, int page, const QString &password)
    {
        PasswordAnswer answer(password);
        widget<QListWidget>(form.get(), "listWidget")->setCurrentRow(page);
        QTest::mouseClick(widget<QPushButton>(form.get(), button), Qt::LeftButton);
        EXPECT_EQ(answer.answered(), 1);
        EXPECT_FALSE(answer.rescued());
    }

    // Collects what arrives on the emulator's line while the window keeps running.
    std::string readLine(size_t count, int timeoutMs)
    {
        std::string got;
        spinUntil(
            [&] {
                got += pty.read(count - got.size(), 10);
                return got.size() >= count;
            },
            timeoutMs);
        return got;
    }

    MosquittoBroker broker;
    KmuiSimProcess sim;
    Pty pty;
    TempDir agentDir {"e2e-agent"};
    TempDir agentRuntime {"e2e-agent-rt"};
    std::unique_ptr<TamselProcess> agent;
    std::unique_ptr<MainForm> form;
    Record initial3;
    Record initial4;
};

TEST_F(HaldenRoad, SlotTwoFromTheWindowReachesScheduleFour)
{
    // Monday, Wednesday, Friday; on at 06:45, off at 22:15, both enabled.
    const Record expected {{6, 45, 22, 15, 3, 42}};
    ASSERT_NE(initial4, expected) << "the board already holds the values";
    setSlotTwo(42, true, QTime(6, 45), true, QTime(22, 15));

    const size_t handledBefore = agent->countInErr(handledLine);
    QElapsedTimer road;
    road.start();
    press("btnRemoteTimeSlot2", 1, QString::fromLatin1(agentPwd));
    const qint64 published = road.elapsed();
    const qint64 handled = spinUntil([&] { return agent->countInErr(handledLine) > handledBefore; }, 10000);
    ASSERT_GE(handled, 0) << agent->errText();
    const qint64 handledAt = road.elapsed();

    Record last;
    std::string raw;
    int reads = 0;
    const bool reached = waitForRecord(4, expected, road, 10000, last, raw, reads);
    const qint64 readableAt = road.elapsed();
    ASSERT_TRUE(reached) << "last read of schedule 4: " << show(last) << "\n" << raw << agent->errText();
    std::printf("road: Execute pressed, password answered and published after %lld ms; agent handled it after "
                "%lld ms; schedule 4 read back equal after %lld ms (read %d times)\n",
                static_cast<long long>(published), static_cast<long long>(handledAt),
                static_cast<long long>(readableAt), reads);

    // The agent is idle now: slot 1 was left alone, and the window keeps what was sent.
    QElapsedTimer oneRead;
    oneRead.start();
    EXPECT_EQ(readSchedule(3), initial3);
    std::printf("one orvelctl read of a schedule takes %lld ms of that\n", static_cast<long long>(oneRead.elapsed()));
    const SlotSettings &kept = form->settings().timeSlot2;
    EXPECT_EQ(kept.activeDay, 42);
    EXPECT_EQ(kept.pwrOffHour, 22);
}

TEST_F(HaldenRoad, WrongPasswordChangesNothingAndEdidReachesTheLine)
{
    const char *const names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int d = 0; d < 7; ++d)
        widget<QCheckBox>(form.get(), (std::string("cbRTS1_") + names[d]).c_str())->setChecked(d == 0);
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOn")->setTime(QTime(5, 10));
    widget<QTimeEdit>(form.get(), "tebRTS1_PwrOff")->setTime(QTime(23, 59));
    const Record wouldBe {{5, 10, 23, 59, 3, 1}};
    ASSERT_NE(initial3, wouldBe);

    press("btnRemoteTimeSlot1", 0, QStringLiteral("guess"));
    // Commands are carried out in order, so the EDID packets on the line also
    // mean the agent is done with the slot command before it.
    press("btnEdidReenumerate", 2, QString::fromLatin1(agentPwd));
    const std::string got = readLine(36, 15000);
    EXPECT_EQ(QByteArray::fromStdString(got).toHex().toStdString(), edidPackets) << agent->errText();
    EXPECT_EQ(agent->countInErr(handledLine), 2u) << agent->errText();

    EXPECT_EQ(readSchedule(3), initial3);
    EXPECT_EQ(readSchedule(4), initial4);
}

// Every text the system writes, collected while it runs: Brimlet's Qt output.
QStringList &brimletOutput()
{
    static QStringList lines;
    return lines;
}

void collectOutput(QtMsgType, const QMessageLogContext &, const QString &text)
{
    brimletOutput() << text;
}

// Command lines of every process on the machine that mention `secret`.
std::vector<std::string> commandLinesHolding(const std::string &secret)
{
    std::vector<std::string> found;
    DIR *proc = opendir("/proc");
    while (const dirent *entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (line.find(secret) != std::string::npos)
            found.push_back(std::string(entry->d_name) + ": " + line);
    }
    if (proc)
        closedir(proc);
    return found;
}

// Files under `dir` whose bytes hold `secret`, except those named in `allowed`.
std::vector<std::string> filesHolding(const std::string &dir, const std::string &secret,
                                      const std::vector<std::string> &allowed)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir, ec)) {
        if (!entry.is_regular_file())
            continue;
        const std::string path = entry.path().string();
        if (std::find(allowed.begin(), allowed.end(), path) != allowed.end())
            continue;
        if (readFile(path).find(secret) != std::string::npos)
            found.push_back(path);
    }
    return found;
}

// The agent's password and what the operator types travel only as digests:
// no file the programs write, no diagnostic line and no command line holds them.
TEST_F(HaldenRoad, PasswordsAppearInNoFileOutputOrCommandLine)
{
    const std::string typedWrong = "Typed-Guess-91";
    const QtMessageHandler previous = qInstallMessageHandler(collectOutput);
    std::vector<std::string> seenInCommandLines;
    auto lookAtCommandLines = [&] {
        for (const std::string &secret : {std::string(agentPwd), typedWrong})
            for (const std::string &line : commandLinesHolding(secret))
                seenInCommandLines.push_back(line);
    };

    setSlotTwo(42, true, QTime(7, 5), true, QTime(21, 35));
    press("btnRemoteTimeSlot2", 1, QString::fromLatin1(agentPwd));
    lookAtCommandLines();
    press("btnRemoteTimeSlot1", 0, QString::fromStdString(typedWrong));
    press("btnEdidReenumerate", 2, QString::fromLatin1(agentPwd));
    ASSERT_EQ(readLine(36, 15000).size(), 36u) << agent->errText();
    lookAtCommandLines();
    form.reset();  // Brimlet saves its settings as it closes
    qInstallMessageHandler(previous);

    EXPECT_TRUE(seenInCommandLines.empty()) << seenInCommandLines.front();
    const std::string brokerDir = std::filesystem::path(broker.logPath()).parent_path().string();
    for (const std::string &secret : {std::string(agentPwd), typedWrong}) {
        // tamsel.ini is the one file that holds the agent's password.
        for (const std::string &dir : {agentDir.path(), agentRuntime.path(), folder(), sim.runtimeDir(), brokerDir})
            EXPECT_EQ(filesHolding(dir, secret, {agentDir.file("tamsel.ini")}), std::vector<std::string>{})
                << "in " << dir;
        EXPECT_EQ(agent->errText().find(secret), std::string::npos) << agent->errText();
        EXPECT_FALSE(brimletOutput().join('\n').contains(QString::fromStdString(secret)));
    }
    EXPECT_GT(agent->errText().size(), 0u) << "the agent's output was collected";
    EXPECT_NE(readFile(agentDir.file("tamsel.ini")).find(agentPwd), std::string::npos);
}

} // namespace
