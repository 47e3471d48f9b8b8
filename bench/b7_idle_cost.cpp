// B7: what Tamsel and Brimlet cost while nothing happens: resident memory and
// CPU time over an idle stretch, side by side with two references built with
// the bench: a program that links what the programs must link and holds one
// broker connection (the fair peer, held to 1.10x), and the bare minimal Qt
// widgets program with one window and one tray icon (a second column).
#include "benchmarks.h"

#include "bench_support.h"
#include "mosquitto_broker.h"
#include "tamsel_process.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace halden::bench {

namespace {

// Resident kilobytes per mapped file of a process (anonymous memory under "").
std::map<std::string, double> residentByFile(pid_t pid)
{
    std::map<std::string, double> kb;
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::string line, file;
    while (std::getline(smaps, line)) {
        if (line.rfind("Rss:", 0) == 0) {
            kb[file] += std::stod(line.substr(4));
            continue;
        }
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, path;
        if (fields >> range >> perms >> offset >> device >> inode && range.find('-') != std::string::npos) {
            std::getline(fields >> std::ws, path);
            file = path.empty() || path[0] == '[' ? std::string() : path;
        }
    }
    return kb;
}

// What of a program's resident memory is in files the reference does not
// map at all (libraries it needs and the reference does not), largest first.
std::string beyondReference(pid_t program, pid_t reference)
{
    const std::map<std::string, double> mine = residentByFile(program), theirs = residentByFile(reference);
    std::vector<std::pair<double, std::string>> extra;
    double total = 0;
    for (const auto &[file, kb] : mine)
        if (!file.empty() && !theirs.count(file)) {
            extra.push_back({kb, file.substr(file.rfind('/') + 1)});
            total += kb;
        }
    std::sort(extra.rbegin(), extra.rend());
    char text[256];
    if (extra.empty())
        return "no file the reference does not map";
    std::snprintf(text, sizeof text, "%.1f MiB in files the reference does not map:", total / 1024);
    std::string note = text;
    for (size_t i = 0; i < extra.size() && i < 4; ++i) {
        std::snprintf(text, sizeof text, " %s %.1f,", extra[i].second.c_str(), extra[i].first / 1024);
        note += text;
    }
    return note.substr(0, note.size() - 1);
}

} // namespace

void idleCost(const Counts &counts, Report &report)
{
    const std::string span = " (" + std::to_string(counts.idleSeconds) + " s idle)";
    struct Program {
        const char *name;
        Figure *rss = nullptr, *cpu = nullptr, *bareRss = nullptr, *bareCpu = nullptr;
        pid_t pid = -1;
        ProcessUsage before{}, after{};
    };
    Program programs[2];
    programs[0].name = "tamsel";
    programs[1].name = "brimlet";
    for (Program &p : programs) {
        const std::string id = std::string("B7.") + p.name, who = p.name[0] == 't' ? "Tamsel" : "Brimlet";
        p.rss = &report.declare(id + ".rss", who + " RSS" + span, "MiB");
        p.cpu = &report.declare(id + ".cpu", who + " CPU time" + span, "ms");
        p.bareRss = &report.declare(id + ".rss.bare", "  " + who + " RSS beside the bare Qt program", "MiB");
        p.bareCpu = &report.declare(id + ".cpu.bare", "  " + who + " CPU beside the bare Qt program", "ms");
    }

    halden::test::MosquittoBroker broker;
    Agent agent({broker.port(), "bench/idle", "bench-pw", true});
    halden::test::TempDir brimletDir("bench-brimlet"), bareDir("bench-reference"), linkDir("bench-reference-link");
    halden::test::writeFile(brimletDir.file("Brimlet.ini"), "[General]\r\nHost=127.0.0.1\r\nPort="
                                                                + std::to_string(broker.port())
                                                                + "\r\nTopicToken=bench/idle\r\n");
    const std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen"};
    halden::test::TamselProcess brimlet(HALDEN_BIN_DIR "/Brimlet", brimletDir.path(), env);
    halden::test::TamselProcess bare(HALDEN_BIN_DIR "/bench-reference-tray", bareDir.path(), env);
    halden::test::TamselProcess linked(HALDEN_BIN_DIR "/bench-reference-link", linkDir.path(), env,
                                       {std::to_string(broker.port())});
    if (!broker.running() || !agent.startBoard() || !agent.startAgent() || !brimlet.start() || !bare.start()
        || !linked.start() || !waitUntil([&] { return broker.countInLog("Received SUBSCRIBE") >= 3; }, 30000, 10)) {
        programs[0].rss->fail("the programs did not come up");
        return;
    }
    programs[0].pid = agent.agentPid();
    programs[1].pid = brimlet.pid();
    sleepMs(2000);  // past start-up
    for (Program &p : programs)
        p.before = processUsage(p.pid);
    const ProcessUsage bare0 = processUsage(bare.pid()), link0 = processUsage(linked.pid());
    sleepMs(counts.idleSeconds * 1000.0);
    for (Program &p : programs)
        p.after = processUsage(p.pid);
    const ProcessUsage bare1 = processUsage(bare.pid()), link1 = processUsage(linked.pid());
    if (!agent.agentRunning() || !brimlet.running() || !bare.running() || !linked.running()) {
        programs[0].rss->fail("a program ended while idle");
        return;
    }
    for (Program &p : programs) {
        p.rss->median = p.bareRss->median = p.after.rssMiB;
        p.cpu->median = p.bareCpu->median = p.after.cpuMs - p.before.cpuMs;
        p.rss->peerName = p.cpu->peerName = "Qt window + tray + Qt Network + one libmosquitto link";
        p.rss->peer = link1.rssMiB;
        p.cpu->peer = link1.cpuMs - link0.cpuMs;
        p.rss->maxRatio = p.cpu->maxRatio = 1.1;
        p.bareRss->peerName = p.bareCpu->peerName = "minimal Qt window + tray icon";
        p.bareRss->peer = bare1.rssMiB;
        p.bareCpu->peer = bare1.cpuMs - bare0.cpuMs;
        p.rss->note = beyondReference(p.pid, linked.pid());
        p.bareRss->note = beyondReference(p.pid, bare.pid());
        char text[96];
        std::snprintf(text, sizeof text, "%.4f %% of one core", *p.cpu->median / (counts.idleSeconds * 10.0));
        p.cpu->note = text;
    }
}

} // namespace halden::bench
