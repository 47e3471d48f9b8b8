#include "benchmarks.h"

namespace halden::bench {

// The full run takes at least 20 rounds of everything it quotes a median of.
// mode, repeats, flood, restarts, start-ups, fan-out links, publishes, idle s, fleet, rounds
Counts defaultCounts() { return {"default", 20, 200000, 20, 10, {100}, 10, 30, 20, 5}; }
Counts fullCounts() { return {"full", 20, 1000000, 20, 20, {100, 1000}, 20, 30, 100, 10}; }
Counts quickCounts() { return {"quick", 5, 20000, 3, 2, {20}, 3, 5, 5, 2}; }
Counts smokeCounts() { return {"smoke", 2, 500, 1, 1, {3}, 1, 1, 2, 1}; }

} // namespace halden::bench
