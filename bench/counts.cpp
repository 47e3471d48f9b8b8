#include "benchmarks.h"

namespace halden::bench {

// mode, repeats, flood, restarts, start-ups, fan-out links, idle s, fleet
Counts defaultCounts() { return {"default", 20, 200000, 10, 5, {100}, 30, 20}; }
Counts fullCounts() { return {"full", 20, 1000000, 10, 5, {100, 1000}, 30, 100}; }
Counts quickCounts() { return {"quick", 5, 20000, 3, 2, {20}, 5, 5}; }
Counts smokeCounts() { return {"smoke", 2, 500, 1, 1, {3}, 1, 2}; }

} // namespace halden::bench
