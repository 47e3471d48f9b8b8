// What the programs leave on the broker: a program restarted over and over
// keeps one persistent session there, not one more per run; boards set up
// alike on different machines, and two windows open at once in one folder,
// each keep their own.
#include "mosquitto_broker.h"
#include "run_program.h"
#include "tamsel_process.h"
#include "temp_dir.h"
#include "wait_for.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace halden::test;

namespace {

// Every client id the broker saw connect, in order.
std::vector<std::string> connectedIds(const MosquittoBroker &broker)
{
    static const std::regex line("New client connected from [^ ]+ as ([A-Za-z0-9_-]+)");
    const std::string log = broker.logText();
    std::vector<std::string> ids;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    return ids;
}

// An agent with no board to reach (its board folder is refused, so none is
// started), only the broker link.
struct AgentFolder {
    explicit AgentFolder(uint16_t port)
    {
        writeFile(work.file("tamsel.ini"), "[General]\nHost=127.0.0.1\nPort=" + std::to_string(port)
                                               + "\nTopicToken=site/sessions\nPwd=pw\n");
        writeFile(work.file("no-board"), "");
    }
    std::vector<std::string> env() const
    {
        return {"QT_QPA_PLATFORM=offscreen", "KMUI_RUNTIME_DIR=" + work.file("no-board"),
                "XDG_RUNTIME_DIR=" + runtime.path()};
    }
    TempDir work{"sessions-agent"};
    TempDir runtime{"sessions-rt"};
};

bool startSubscribed(TamselProcess &program, const MosquittoBroker &broker)
{
    const size_t before = broker.countInLog("Received SUBSCRIBE");
    return program.start()
        && waitFor([&] { return broker.countInLog("Received SUBSCRIBE") > before; }, 20000);
}

} // namespace

TEST(BrokerSessions, TwentyRestartsOfAnAgentLeaveOneSessionOnTheBroker)
{
    MosquittoBroker broker(MosquittoBroker::Deferred);
    broker.setListenerOptions("sys_interval 1\n");
    ASSERT_TRUE(broker.start()) << broker.outputText();
    AgentFolder folder(broker.port());
    for (int run = 0; run < 20; ++run) {
        TamselProcess agent(HALDEN_BIN_DIR "/Tamsel", folder.work.path(), folder.env());
        ASSERT_TRUE(startSubscribed(agent, broker)) << "run " << run << ": " << agent.errText();
        agent.stop();
    }
    const std::vector<std::string> ids = connectedIds(broker);
    ASSERT_EQ(ids.size(), 20u) << broker.logText();
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1u) << "one identifier for every run";

    // The broker's own count of the sessions it keeps for clients that are away.
    MosquittoSubscriber sys(broker, "$SYS/broker/clients/disconnected");
    ASSERT_TRUE(sys.ready());
    std::string disconnected;
    ASSERT_TRUE(waitFor(
        [&] {
            const auto m = sys.messages();
            if (m.empty())
                return false;
            disconnected = m.back().payload;
            return true;
        },
        5000));
    EXPECT_LE(std::stoi(disconnected), 1) << "sessions kept for clients that are gone";
}

// Two boards set up alike (same program, same settings folder) on two
// machines: each machine's id is all that tells them apart. The second
// machine is this one with another /etc/machine-id, in a mount namespace.
TEST(BrokerSessions, AgentsOnTwoMachinesWithTheSameFolderNeverTakeOverEachOther)
{
    if (geteuid() != 0 || runProgram({"/usr/bin/unshare", "-m", "true"}, {}, 10000).exitCode != 0)
        GTEST_SKIP() << "a second machine id needs a mount namespace (root and unshare)";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    AgentFolder folder(broker.port());
    std::vector<std::unique_ptr<TamselProcess>> agents;
    std::vector<std::unique_ptr<TempDir>> machines;
    for (const char *machineId : {"0123456789abcdef0123456789abcdef", "fedcba9876543210fedcba9876543210"}) {
        machines.push_back(std::make_unique<TempDir>("machine"));
        TempDir &m = *machines.back();
        writeFile(m.file("machine-id"), std::string(machineId) + "\n");
        mkdir(m.file("rt").c_str(), 0700);
        writeFile(m.file("tamsel"), "#!/bin/sh\nexec /usr/bin/unshare -m sh -c 'mount --bind \"$0\" /etc/machine-id && exec \"$1\"' "
                                        + m.file("machine-id") + " " HALDEN_BIN_DIR "/Tamsel\n");
        chmod(m.file("tamsel").c_str(), 0755);
        std::vector<std::string> env = folder.env();
        env.back() = "XDG_RUNTIME_DIR=" + m.file("rt");
        agents.push_back(std::make_unique<TamselProcess>(m.file("tamsel"), folder.work.path(), env));
        ASSERT_TRUE(startSubscribed(*agents.back(), broker)) << agents.back()->errText();
    }
    // Long enough for a takeover to show: each would throw the other out.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::vector<std::string> ids = connectedIds(broker);
    EXPECT_EQ(ids.size(), 2u) << broker.logText();
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 2u) << broker.logText();
    EXPECT_EQ(broker.countInLog("already connected"), 0u) << broker.logText();
}

// Two Brimlet windows open at once on one settings folder: two identifiers,
// so neither throws the other off the broker; a window started later again
// takes the first one's.
TEST(BrokerSessions, TwoBrimletWindowsInOneFolderKeepTwoIdentifiers)
{
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    TempDir work("sessions-brimlet");
    TempDir runtime("sessions-rt");
    writeFile(work.file("Brimlet.ini"), "[General]\r\nHost=127.0.0.1\r\nPort=" + std::to_string(broker.port())
                                            + "\r\nTopicToken=site/sessions\r\n");
    const std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime.path()};
    {
        TamselProcess first(HALDEN_BIN_DIR "/Brimlet", work.path(), env);
        TamselProcess second(HALDEN_BIN_DIR "/Brimlet", work.path(), env);
        ASSERT_TRUE(startSubscribed(first, broker)) << first.errText();
        ASSERT_TRUE(startSubscribed(second, broker)) << second.errText();
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    TamselProcess again(HALDEN_BIN_DIR "/Brimlet", work.path(), env);
    ASSERT_TRUE(startSubscribed(again, broker)) << again.errText();
    const std::vector<std::string> ids = connectedIds(broker);
    ASSERT_EQ(ids.size(), 3u) << broker.logText();
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[2], ids[0]) << "the later window took the first one's identifier";
    EXPECT_EQ(broker.countInLog("already connected"), 0u) << broker.logText();
}
