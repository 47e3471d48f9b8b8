#include "bench_support.h"

#include "command_message.h"
#include "core/register_map.h"
#include "core/smbus.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace halden::bench {

double smbusFloorMs(double transactions) { return transactions * kPausesPerTransaction * orvel::kPauseMs; }

void fill(Figure &figure, const Samples &rounds)
{
    if (rounds.empty())
        return;
    figure.median = rounds.median();
    figure.samples = int(rounds.size());
    if (rounds.size() >= kRoundsForP95)
        figure.p95 = rounds.percentile(0.95);
}

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void sleepMs(double ms)
{
    timespec rest{time_t(ms / 1e3), long(std::fmod(ms, 1e3) * 1e6)};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs, double pollMs)
{
    const double end = nowMs() + timeoutMs;
    while (nowMs() < end) {
        if (done())
            return true;
        sleepMs(pollMs);
    }
    return done();
}

double Samples::percentile(double q) const
{
    if (values_.empty())
        return 0;
    std::vector<double> sorted = values_;
    std::sort(sorted.begin(), sorted.end());
    const size_t rank = size_t(std::ceil(q * double(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

ProcessUsage processUsage(pid_t pid)
{
    ProcessUsage usage;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            usage.rssMiB = std::stod(line.substr(6)) / 1024.0;
    // CPU time in nanoseconds (the tick counts in /proc/PID/stat are too
    // coarse for an idle program); summed over the process's threads.
    std::error_code ignored;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double ns = 0;
        if (schedstat >> ns)
            usage.cpuMs += ns / 1e6;
    }
    return usage;
}

std::vector<TraceWrite> readTrace(const std::string &path)
{
    std::vector<TraceWrite> writes;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        double seconds = 0;
        unsigned address = 0, reg = 0, value = 0;
        if (std::sscanf(line.c_str(), "%lf write 0x%x 0x%x 0x%x", &seconds, &address, &reg, &value) == 4)
            writes.push_back({seconds * 1e3, int(address), int(reg), int(value)});
    }
    return writes;
}

GrowingFileCounter::GrowingFileCounter(std::string path, std::string needle)
    : path_(std::move(path)), needle_(std::move(needle))
{
}

size_t GrowingFileCounter::count()
{
    std::FILE *file = std::fopen(path_.c_str(), "rb");
    if (!file)
        return count_;
    std::fseek(file, long(offset_), SEEK_SET);
    std::string chunk(1 << 20, '\0');
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        offset_ += static_cast<long long>(n);
        std::string text = carry_ + chunk.substr(0, n);
        size_t at = 0, found;
        while ((found = text.find(needle_, at)) != std::string::npos) {
            ++count_;
            at = found + needle_.size();
        }
        // A needle cut by the end of what was read so far is counted next time.
        const size_t keep = std::min(text.size() - at, needle_.size() - 1);
        carry_ = text.substr(text.size() - keep);
    }
    std::fclose(file);
    return count_;
}

std::string slotCommand(const std::string &password, int onHour, int onMinute, int offHour, int offMinute)
{
    SlotValues slot;
    slot.activeDay = 0x3E;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = quint8(onHour);
    slot.pwrOnMinute = quint8(onMinute);
    slot.pwrOffEnable = true;
    slot.pwrOffHour = quint8(offHour);
    slot.pwrOffMinute = quint8(offMinute);
    return commandPayload(composeSlotCommand(QStringLiteral("SLOT1"), slot, QString::fromStdString(password)))
        .toStdString();
}

ScheduleRecord slotRecord(int onHour, int onMinute, int offHour, int offMinute)
{
    // As slotCommand sends it: Monday to Friday, both times on.
    return {uint8_t(onHour), uint8_t(onMinute), uint8_t(offHour), uint8_t(offMinute), 3, 0x3E};
}

namespace {
std::string hex(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}
} // namespace

std::string wrongScheduleWrites(const std::vector<TraceWrite> &trace, size_t from, const ScheduleRecord &r)
{
    const int values[kScheduleBytes] = {r.enableFlags, r.activeDays, r.onHour, r.onMinute, r.offHour, r.offMinute};
    const size_t count = trace.size() > from ? trace.size() - from : 0;
    if (count != size_t(kScheduleBytes))
        return std::to_string(count) + " register writes instead of " + std::to_string(kScheduleBytes);
    for (int i = 0; i < kScheduleBytes; ++i) {
        const TraceWrite &w = trace[from + size_t(i)];
        const int reg = orvel::kScheduleBase[2] + i;
        if (w.address != orvel::kControllerAddress || w.reg != reg || w.value != values[i])
            return "write " + std::to_string(i + 1) + " went to " + hex(w.address) + "/" + hex(w.reg) + " = " +
                   hex(w.value) + ", not to register " + hex(reg) + " = " + hex(values[i]);
    }
    return {};
}

std::unique_ptr<halden::test::MosquittoBroker> probeBroker()
{
    auto broker = std::make_unique<halden::test::MosquittoBroker>(halden::test::MosquittoBroker::Deferred);
    broker->setListenerOptions("set_tcp_nodelay true\n");
    broker->start();
    return broker;
}

std::string handledLine(const std::string &topic) { return "slot_mtsBranchReceived::topic = " + topic; }
std::string retainedLine(const std::string &topic) { return "Ignored a retained message on " + topic; }

Agent::Agent(const Options &options) : options_(options)
{
    std::vector<std::string> args{"--no-state", "--trace", tracePath()};
    if (!options.firmwareTable)
        args.push_back("--no-table");
    sim_.setExtraArgs(args);
    writeSettings();
}

Agent::~Agent() { stopAgent(); }

void Agent::writeSettings()
{
    halden::test::writeFile(work_.file("tamsel.ini"), "[General]\nHost=127.0.0.1\nPort="
                                                          + std::to_string(options_.brokerPort) + "\nTopicToken="
                                                          + options_.topic + "\nPwd=" + options_.password + "\n");
}

void Agent::setTopic(const std::string &topic)
{
    options_.topic = topic;
    writeSettings();
}

bool Agent::startBoard() { return sim_.start(); }

bool Agent::startAgent()
{
    agent_ = std::make_unique<halden::test::TamselProcess>(
        HALDEN_BIN_DIR "/Tamsel", work_.path(),
        std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "KMUI_RUNTIME_DIR=" + sim_.runtimeDir(),
                                 "XDG_RUNTIME_DIR=" + runtime_.path()});
    return agent_->start();
}

void Agent::stopAgent()
{
    if (agent_)
        agent_->stop();
}

std::string Agent::errText() const { return agent_ ? agent_->errText() : std::string(); }

size_t Agent::countInErr(const std::string &needle) const { return agent_ ? agent_->countInErr(needle) : 0; }

} // namespace halden::bench
