// halden-bench: runs the benchmarks, prints the table and writes it as JSON.
//
//   halden-bench [--quick | --full | --smoke] [--fleet N] [--only B3,B8] [--json FILE]
//
// Exits 1 when a figure could not be produced (the suite's smoke test looks
// only at that), 2 on a bad command line. Targets missed are reported in the
// table, not in the exit status: the figures are what this program is for.
#include "benchmarks.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

using namespace halden::bench;

namespace {

int usage(const char *problem)
{
    std::fprintf(stderr, "halden-bench: %s\nUsage: halden-bench [--quick | --full | --smoke] [--fleet N] "
                         "[--only B1,B2,...] [--json FILE]\n", problem);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A broker or agent that goes away mid-write must not end the run.
    std::signal(SIGPIPE, SIG_IGN);

    Counts counts = defaultCounts();
    std::string json, only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--quick")
            counts = quickCounts();
        else if (arg == "--full")
            counts = fullCounts();
        else if (arg == "--smoke")
            counts = smokeCounts();
        else if ((arg == "--json" || arg == "--only" || arg == "--fleet") && !value)
            return usage(("option " + arg + " needs a value").c_str());
        else if (arg == "--json")
            json = argv[++i];
        else if (arg == "--only")
            only = "," + std::string(argv[++i]) + ",";
        else if (arg == "--fleet") {
            const int n = std::atoi(argv[++i]);
            if (n < 1)
                return usage("--fleet needs a number of agents, 1 or more");
            counts.fleetAgents = n;
        } else
            return usage(("unknown option " + arg).c_str());
    }

    const struct {
        const char *name;
        std::function<void(const Counts &, Report &)> run;
    } benchmarks[] = {
        {"B1", libraryWrite}, {"B2", roadLatency}, {"B3", flood},   {"B4", recovery},
        {"B5", startUp},      {"B6", fanOut},      {"B7", idleCost}, {"B8", fleet},
    };
    Report report;
    for (const auto &b : benchmarks) {
        if (!only.empty() && only.find(std::string(",") + b.name + ",") == std::string::npos)
            continue;
        std::printf("%s ...\n", b.name);
        std::fflush(stdout);
        b.run(counts, report);
    }
    report.print();
    if (!json.empty() && !report.writeJson(json, counts.mode)) {
        std::fprintf(stderr, "halden-bench: cannot write %s\n", json.c_str());
        return 1;
    }
    const std::vector<std::string> missing = report.missing();
    if (!missing.empty()) {
        std::fprintf(stderr, "halden-bench: no figure for");
        for (const std::string &id : missing)
            std::fprintf(stderr, " %s", id.c_str());
        std::fprintf(stderr, "\n");
        return 1;
    }
    return 0;
}
