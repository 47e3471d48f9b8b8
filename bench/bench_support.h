#pragma once
// What every benchmark needs: a monotonic clock in milliseconds (the same
// clock kmui-sim stamps its trace with), samples and their order statistics,
// a process's memory and CPU time, and one whole agent (Tamsel in its own
// folder on its own simulated board) to measure.
#include "kmui_sim_process.h"
#include "report.h"
#include "mosquitto_broker.h"
#include "orvel.h"
#include "tamsel_process.h"
#include "temp_dir.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace halden::bench {

// Pauses of one SMBus byte transaction when the ready and done bits come on
// their first query (kmui-sim's default --ready-after 1 --done-after 1):
// after the ready query, after the start, after the done query.
constexpr int kPausesPerTransaction = 3;
// The least time that many byte transactions take, from the library's pause.
double smbusFloorMs(double transactions);

// CLOCK_MONOTONIC in milliseconds.
double nowMs();
void sleepMs(double ms);
// Polls until done() or timeoutMs has passed; the last answer of done().
bool waitUntil(const std::function<bool()> &done, int timeoutMs, double pollMs = 2);

class Samples {
public:
    void add(double value) { values_.push_back(value); }
    size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    // Nearest-rank percentile of what was added (q in 0..1); 0 when empty.
    double percentile(double q) const;
    double median() const { return percentile(0.5); }
    double max() const { return percentile(1.0); }

private:
    std::vector<double> values_;
};

// Fewer rounds than this give no p95 worth printing.
constexpr size_t kRoundsForP95 = 20;
// The median of the rounds, their count, and the p95 where there are enough.
void fill(Figure &figure, const Samples &rounds);

struct ProcessUsage {
    double rssMiB = 0;      // resident set
    double cpuMs = 0;       // time on a CPU so far, all threads
};
ProcessUsage processUsage(pid_t pid);

// One register write as kmui-sim --trace recorded it.
struct TraceWrite {
    double ms = 0;  // CLOCK_MONOTONIC, as nowMs()
    int address = 0, reg = 0, value = 0;
};
std::vector<TraceWrite> readTrace(const std::string &path);

// Counts a text in a file that only grows, reading only what was appended
// since the last call (an agent's diagnostic output during a flood runs to
// hundreds of megabytes).
class GrowingFileCounter {
public:
    GrowingFileCounter(std::string path, std::string needle);
    size_t count();

private:
    std::string path_, needle_, carry_;
    long long offset_ = 0;
    size_t count_ = 0;
};

// The schedule record a SLOT command writes, and the wire text for it.
std::string slotCommand(const std::string &password, int onHour, int onMinute, int offHour, int offMinute);
ScheduleRecord slotRecord(int onHour, int onMinute, int offHour, int offMinute);

// The bytes of one schedule record, one SMBus write each.
constexpr int kScheduleBytes = 6;
// Empty when the trace from `from` on is exactly one write of schedule 3 as
// the controller must see it: the block's six registers in order, flags and
// days first, then the times, with the record's values; else what is wrong.
std::string wrongScheduleWrites(const std::vector<TraceWrite> &trace, size_t from, const ScheduleRecord &record);

// A whole agent: Tamsel in its own working folder, with its own runtime
// folder (so that each is its own single instance) and its own simulated
// board that traces every register write.
class Agent {
public:
    struct Options {
        uint16_t brokerPort = 0;
        std::string topic = "bench/board";
        std::string password = "bench-pw";
        bool firmwareTable = true;
    };
    explicit Agent(const Options &options);
    ~Agent();

    bool startBoard();
    bool startAgent();
    void stopAgent();
    // Rewrites the settings for the next startAgent().
    void setTopic(const std::string &topic);

    pid_t agentPid() const { return agent_ ? agent_->pid() : -1; }
    bool agentRunning() const { return agent_ && agent_->running(); }
    const std::string &topic() const { return options_.topic; }
    std::string tracePath() const { return work_.file("board.trace"); }
    std::vector<TraceWrite> traceWrites() const { return readTrace(tracePath()); }
    std::string errPath() const { return work_.file("tamsel.err"); }
    std::string errText() const;
    size_t countInErr(const std::string &needle) const;
    const std::string &simRuntimeDir() const { return sim_.runtimeDir(); }
    pid_t simPid() const { return sim_.pid(); }

private:
    void writeSettings();

    Options options_;
    halden::test::TempDir work_{"bench-agent"};
    halden::test::TempDir runtime_{"bench-rt"};
    halden::test::KmuiSimProcess sim_;
    std::unique_ptr<halden::test::TamselProcess> agent_;
};

// A broker started for timing subscriptions by a retained probe: it sends at
// once, where by default it would hold the probe back behind its SUBACK until
// the client acknowledged that (up to 40 ms of delayed ACK).
std::unique_ptr<halden::test::MosquittoBroker> probeBroker();

// The agent's diagnostic line for each message it takes from the broker, and
// the one for a retained message it leaves alone: the second tells, to the
// millisecond, that the agent has (re)subscribed.
std::string handledLine(const std::string &topic);
std::string retainedLine(const std::string &topic);

} // namespace halden::bench
