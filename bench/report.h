#pragma once
// The figures of one run: each measured value beside the floor or peer it is
// compared with in the same run, the ratio, and the target it is held to.
// Printed as one table and written as JSON.
#include <optional>
#include <string>
#include <deque>
#include <vector>

namespace halden::bench {

struct Figure {
    std::string id;         // "B1.write", unique
    std::string what;       // what was measured
    std::string unit;       // "ms", "MiB", "msg/s", "count"
    std::optional<double> median;
    std::optional<double> p95;   // only where enough rounds make it one (see fill())
    int samples = 0;             // rounds behind median and p95; 0 for a single reading
    std::string peerName;        // the floor or peer compared with
    std::optional<double> peer;
    // Target on median / peer: at most maxRatio, or at least minRatio.
    std::optional<double> maxRatio, minRatio;
    std::optional<double> maxValue;  // an absolute bound on the median as well
    bool hardwareFloor = false;  // the peer is a floor the hardware protocol sets
    std::string note;
    // A check beside the figure that failed (a wrong register written, a
    // call that failed, rounds lost): the row fails whatever the figure.
    std::string failure;

    std::optional<double> ratio() const;
    // Empty when there is no target or nothing was measured; false after a failure.
    std::optional<bool> met() const;
    // Notes the first failure; later ones only add to it.
    void fail(const std::string &why);
};

class Report {
public:
    // Declares a figure before it is measured, so that a benchmark that fails
    // leaves a visible gap instead of a missing row.
    Figure &declare(const std::string &id, const std::string &what, const std::string &unit);
    Figure *find(const std::string &id);
    const std::deque<Figure> &figures() const { return figures_; }

    // The ids of declared figures that have no value (or no peer).
    std::vector<std::string> missing() const;
    void print() const;
    bool writeJson(const std::string &path, const std::string &mode) const;

private:
    std::deque<Figure> figures_;  // references stay valid as figures are declared
};

} // namespace halden::bench
