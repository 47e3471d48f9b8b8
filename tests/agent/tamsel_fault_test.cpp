// The agent as a real process under faults: a broker killed and started again
// and again, the board killed under it, the EDID device pulled out and put
// back, and a flood of garbage on its topic. It must never exit or hang, lose
// no later command, and not grow.
//
// HALDEN_LONG_FAULTS=1 (scripts/fault-runs --long) runs the flood at its full
// size of a million messages; the suite runs a tenth of it.
#include "mqtt_flood.h"
#include "tamsel_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using namespace halden::test;
using namespace halden::test::tamsel;
using Clock = std::chrono::steady_clock;

bool longRuns()
{
    const char *value = std::getenv("HALDEN_LONG_FAULTS");
    return value && *value && std::string(value) != "0";
}

long long msSince(Clock::time_point begin)
{
    return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}

// Resident memory of a process, in KiB.
long rssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// CPU time a process has used (user and system), in milliseconds.
long long cpuMs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15) {
            stime = std::atoll(field.c_str());
            break;
        }
    }
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

class TamselFaults : public TamselEndToEnd {
protected:
    // A small allocator quarantine, so that the sanitizer's own caching does
    // not pass for growth of the agent.
    std::vector<std::string> faultEnv() const
    {
        std::vector<std::string> env = agentEnv();
        const char *asan = std::getenv("ASAN_OPTIONS");
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "")
                      + ":quarantine_size_mb=4:thread_local_quarantine_size_kb=256:malloc_context_size=5");
        return env;
    }

    // Polls the controller until the agent's slot 1 (schedule 3) holds `onMinute`, or false after timeoutMs.
    bool waitForSlot1Minute(int onMinute, int timeoutMs)
    {
        const auto begin = Clock::now();
        while (msSince(begin) < timeoutMs) {
            if (readSchedule(3).onMinute == onMinute)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static std::string slot1(int onMinute, const char *password = pwd)
    {
        return slotCommand("SLOT1", slotValues(0x3E, true, 6, onMinute, true, 22, 0), password);
    }

    // An EDID command, sent until its packets arrive: proves the agent is
    // subscribed and answering without relying on broker log lines.
    bool answersEdid(Pty &line, int tries)
    {
        for (int i = 0; i < tries; ++i) {
            if (mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString())
                && line.read(36, 1000).size() == 36)
                return true;
        }
        return false;
    }
};

TEST_F(TamselFaults, BrokerKilledFiftyTimesWhileCommandsArrive)
{
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), faultEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;

    // A command every 100 ms, its on-minute the number of the current round.
    std::atomic<int> round{0};
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        while (!stop) {
            mosquittoPublish(broker.port(), topic, slot1(round % 60));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    constexpr int kRestarts = 50;
    long rssAfterWarmUp = 0;
    long long slowest = 0;
    int survived = 0;
    for (int i = 1; i <= kRestarts; ++i) {
        broker.kill();
        round = i;
        ASSERT_TRUE(broker.start()) << "restart " << i << ": " << broker.outputText();
        const auto begin = Clock::now();
        ASSERT_TRUE(waitForSlot1Minute(i % 60, 15000)) << "no command landed after restart " << i << "\n"
                                                       << agent.errText();
        slowest = std::max(slowest, msSince(begin));
        ASSERT_TRUE(agent.running()) << "the agent ended at restart " << i;
        if (i == 5)
            rssAfterWarmUp = rssKb(agent.pid());
        ++survived;
    }
    stop = true;
    publisher.join();
    const long rssAtEnd = rssKb(agent.pid());
    ASSERT_TRUE(answersEdid(pty, 5)) << "the agent stopped answering";
    std::printf("%d broker kills survived; slowest restart to landed command %lld ms; RSS %ld -> %ld KiB\n",
                survived, slowest, rssAfterWarmUp, rssAtEnd);
    EXPECT_LE(rssAtEnd - rssAfterWarmUp, 5 * 1024) << "the agent grows with each reconnect";
    expectCleanRun(agent);
}

TEST_F(TamselFaults, BoardKilledUnderTheAgentAndBackTheNextCommandLands)
{
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), faultEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slot1(11)));
    ASSERT_TRUE(waitForSlot1Minute(11, 15000)) << agent.errText();

    sim.kill();
    // A schedule write to a board that is gone, then an EDID command: how long
    // the agent is held up shows in how late the packets arrive.
    const auto begin = Clock::now();
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slot1(22)));
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()));
    ASSERT_EQ(pty.read(36, 15000).size(), 36u) << "the agent stopped answering after the board died";
    const long long stall = msSince(begin);
    EXPECT_TRUE(agent.running());

    ASSERT_TRUE(sim.start()) << sim.error();
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slot1(33)));
    EXPECT_TRUE(waitForSlot1Minute(33, 15000)) << "no command lands once the board is back\n" << agent.errText();
    std::printf("agent held up %lld ms by a write to a dead board (before: up to about 6000)\n", stall);
    EXPECT_TRUE(agent.running());
    expectCleanRun(agent);
}

// The EDID device is a link to the pty, as a udev name is to the adapter: it
// goes away (between and in the middle of sequences) and comes back under the
// same name.
TEST_F(TamselFaults, EdidDeviceVanishesAndComesBackUnderTheSameName)
{
    auto device = std::make_unique<Pty>();
    const std::string link = work.file("ttyEDID");
    ASSERT_EQ(::symlink(device->slavePath().c_str(), link.c_str()), 0);
    writeFile(work.file("tamsel.ini"), std::string("[General]\nHost=127.0.0.1\nPort=") + std::to_string(broker.port())
                                           + "\nTopicToken=" + topic + "\nPwd=" + pwd + "\nEdidSerialPort=" + link
                                           + "\n");
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), faultEnv());
    startAgent(agent);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(answersEdid(*device, 5)) << agent.errText();

    for (int cycle = 0; cycle < 2; ++cycle) {
        if (cycle == 1) {
            // Pulled out in the middle of a sequence this time.
            ASSERT_TRUE(mosquittoPublish(broker.port(), topic, composeEdidCommand(pwd).toStdString()));
            ASSERT_FALSE(device->read(9, 5000).empty());
        }
        const size_t closedBefore = agent.countInErr("), closed");
        device.reset();  // both ends closed: the device node is gone
        ASSERT_TRUE(agent.waitForErr("), closed", closedBefore + 1, 10000)) << agent.errText();

        // Gone: the agent does not spin on the hang-up, and schedules still land.
        const long long cpuBefore = cpuMs(agent.pid());
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const long long cpuUsed = cpuMs(agent.pid()) - cpuBefore;
        std::printf("agent CPU time over 5 s with the device gone: %lld ms\n", cpuUsed);
        EXPECT_LT(cpuUsed, 1000) << "the agent spins on a vanished device";
        ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slot1(40 + cycle)));
        EXPECT_TRUE(waitForSlot1Minute(40 + cycle, 15000)) << agent.errText();

        // Back under the same name: the status timer opens it again.
        const size_t openedBefore = agent.countInErr("Serial Port is connected");
        device = std::make_unique<Pty>();
        ASSERT_EQ(::unlink(link.c_str()), 0);
        ASSERT_EQ(::symlink(device->slavePath().c_str(), link.c_str()), 0);
        ASSERT_TRUE(agent.waitForErr("Serial Port is connected", openedBefore + 1, 10000)) << agent.errText();
        ASSERT_TRUE(answersEdid(*device, 5)) << "an EDID command after the device came back was not sent\n"
                                             << agent.errText();
    }
    EXPECT_TRUE(agent.running());
    expectCleanRun(agent);
}

// Garbage on the topic: wrong digests, text that is not JSON, wrong types,
// names given twice, empty and 256 KiB payloads.
TEST_F(TamselFaults, FloodOfWrongAndMalformedMessagesLeavesItUpAndFlat)
{
    broker.stop();
    broker.setQuietLog(true);
    ASSERT_TRUE(broker.start());
    TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", work.path(), faultEnv());
    ASSERT_TRUE(agent.start());
    ASSERT_TRUE(answersEdid(pty, 20)) << agent.errText();

    MqttFlood flood(broker.port());
    ASSERT_TRUE(flood.connected());
    const std::string wrong = slot1(55, "not the password");
    const std::string big(256 * 1024, '{');
    const std::vector<std::string> garbage{
        wrong,
        "{\"CMD\":\"SLOT1\",\"PWD\":",
        "\xff\xfe{not json at all",
        "{\"CMD\":1,\"PWD\":[1,2,3],\"PWRON_HOUR\":\"eight\"}",
        "{\"CMD\":\"SLOT1\",\"X\":{\"a\":[1,2]},\"X\":0}",
        "",
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
    };
    const int total = longRuns() ? 1000000 : 100000;
    const int bigEvery = 10000;  // 100 big ones in a million
    long rssWarm = 0;
    const auto begin = Clock::now();
    for (int i = 0; i < total; ++i) {
        const std::string &payload = i % bigEvery == bigEvery - 1 ? big : garbage[size_t(i) % garbage.size()];
        ASSERT_TRUE(flood.publish(topic, payload)) << "message " << i;
        if (i == total / 10) {
            ASSERT_TRUE(flood.drain(60000));
            rssWarm = rssKb(agent.pid());
        }
    }
    ASSERT_TRUE(flood.drain(120000));
    // Right after the flood, a correct command lands (it queues behind the flood).
    ASSERT_TRUE(mosquittoPublish(broker.port(), topic, slot1(17)));
    ASSERT_TRUE(waitForSlot1Minute(17, 120000)) << "the correct command after the flood did not land";
    const long long seconds = msSince(begin) / 1000;
    const long rssEnd = rssKb(agent.pid());
    ASSERT_TRUE(agent.running());
    const size_t handled = agent.countInErr("slot_mtsBranchReceived::payload.size");
    const size_t bigDropped = agent.countInErr("bytes (larger than 65536)");
    std::printf("flood of %d messages in %lld s: %zu read as commands, %zu large ones dropped unread; "
                "RSS %ld -> %ld KiB (%+ld KiB)\n",
                total, seconds, handled, bigDropped, rssWarm, rssEnd, rssEnd - rssWarm);
    EXPECT_EQ(bigDropped, size_t(total / bigEvery));
    EXPECT_LE(rssEnd - rssWarm, 5 * 1024) << "the agent grows under the flood";
    expectCleanRun(agent);
}

} // namespace
