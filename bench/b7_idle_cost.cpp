// B7: what Tamsel and Brimlet cost while nothing happens: resident memory and
// CPU time over an idle stretch, all three side by side with a minimal Qt
// widgets program with one window and one tray icon (built with the bench).
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
    Figure &tamselRss = report.declare("B7.tamsel.rss", "Tamsel RSS" + span, "MiB");
    Figure &tamselCpu = report.declare("B7.tamsel.cpu", "Tamsel CPU time" + span, "ms");
    Figure &brimletRss = report.declare("B7.brimlet.rss", "Brimlet RSS" + span, "MiB");
    Figure &brimletCpu = report.declare("B7.brimlet.cpu", "Brimlet CPU time" + span, "ms");

    halden::test::MosquittoBroker broker;
    Agent agent({broker.port(), "bench/idle", "bench-pw", true});
    halden::test::TempDir brimletDir("bench-brimlet"), referenceDir("bench-reference");
    halden::test::writeFile(brimletDir.file("Brimlet.ini"), "[General]\r\nHost=127.0.0.1\r\nPort="
                                                                + std::to_string(broker.port())
                                                                + "\r\nTopicToken=bench/idle\r\n");
    const std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen"};
    halden::test::TamselProcess brimlet(HALDEN_BIN_DIR "/Brimlet", brimletDir.path(), env);
    halden::test::TamselProcess reference(HALDEN_BIN_DIR "/bench-reference-tray", referenceDir.path(), env);
    if (!broker.running() || !agent.startBoard() || !agent.startAgent() || !brimlet.start() || !reference.start()
        || !waitUntil([&] { return broker.countInLog("Received SUBSCRIBE") >= 2; }, 30000, 10)) {
        tamselRss.note = "the programs did not come up";
        return;
    }
    sleepMs(2000);  // past start-up
    const ProcessUsage t0 = processUsage(agent.agentPid()), b0 = processUsage(brimlet.pid()),
                       r0 = processUsage(reference.pid());
    sleepMs(counts.idleSeconds * 1000.0);
    const ProcessUsage t1 = processUsage(agent.agentPid()), b1 = processUsage(brimlet.pid()),
                       r1 = processUsage(reference.pid());
    if (!agent.agentRunning() || !brimlet.running() || !reference.running()) {
        tamselRss.note = "a program ended while idle";
        return;
    }
    const std::string ref = "minimal Qt window + tray icon";
    for (Figure *f : {&tamselRss, &tamselCpu, &brimletRss, &brimletCpu}) {
        f->peerName = ref;
        f->maxRatio = 1.2;
    }
    tamselRss.note = beyondReference(agent.agentPid(), reference.pid());
    brimletRss.note = beyondReference(brimlet.pid(), reference.pid());
    tamselRss.median = t1.rssMiB;
    brimletRss.median = b1.rssMiB;
    tamselRss.peer = brimletRss.peer = r1.rssMiB;
    tamselCpu.median = t1.cpuMs - t0.cpuMs;
    brimletCpu.median = b1.cpuMs - b0.cpuMs;
    tamselCpu.peer = brimletCpu.peer = r1.cpuMs - r0.cpuMs;
    // The reference has no timer at all; the programs run a 1 s status timer
    // and the broker link's 1 s watchdog and keep-alive check.
    for (Figure *f : {&tamselCpu, &brimletCpu}) {
        char text[96];
        std::snprintf(text, sizeof text, "%.4f %% of one core", *f->median / (counts.idleSeconds * 10.0));
        f->note = text;
    }
}

} // namespace halden::bench
