#pragma once
// The benchmarks, run in this order by main.cpp. Each declares its figures,
// starts and stops its own broker, boards and agents, and fills in what it
// measured; a later one may compare with an earlier one's figures.
#include "report.h"

#include <string>
#include <vector>

namespace halden::bench {

struct Counts {
    std::string mode;
    int repeats;          // B1 and B2 samples
    int floodMessages;    // B3
    int restarts;         // B4
    int startups;         // B5, each way
    std::vector<int> fanOutLinks;  // B6 sizes, beside the fleet's own size
    int fanOutPublishes;  // B6, per size
    int idleSeconds;      // B7
    int fleetAgents;      // B8
    int fleetRounds;      // B8, per way of sending
};

// The default run; --quick and --full; --smoke is the least that still
// produces every figure (the test suite runs it on the sanitizer build).
Counts defaultCounts();
Counts quickCounts();
Counts fullCounts();
Counts smokeCounts();

void libraryWrite(const Counts &counts, Report &report);    // B1
void roadLatency(const Counts &counts, Report &report);     // B2
void flood(const Counts &counts, Report &report);           // B3
void recovery(const Counts &counts, Report &report);        // B4
void startUp(const Counts &counts, Report &report);         // B5
void fanOut(const Counts &counts, Report &report);          // B6
void idleCost(const Counts &counts, Report &report);        // B7
void fleet(const Counts &counts, Report &report);           // B8

} // namespace halden::bench
