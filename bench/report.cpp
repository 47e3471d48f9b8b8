#include "report.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>

namespace halden::bench {

std::optional<double> Figure::ratio() const
{
    if (!median || !peer || *peer == 0)
        return std::nullopt;
    return *median / *peer;
}

void Figure::fail(const std::string &why)
{
    failure = failure.empty() ? why : failure + "; " + why;
}

std::optional<bool> Figure::met() const
{
    if (!failure.empty())
        return false;
    if (!median || (!maxRatio && !minRatio && !maxValue))
        return std::nullopt;
    const std::optional<double> r = ratio();
    if ((maxRatio || minRatio) && !r)
        return std::nullopt;
    return (!maxRatio || *r <= *maxRatio) && (!minRatio || *r >= *minRatio) && (!maxValue || *median <= *maxValue);
}

Figure &Report::declare(const std::string &id, const std::string &what, const std::string &unit)
{
    if (Figure *existing = find(id))
        return *existing;
    Figure f;
    f.id = id;
    f.what = what;
    f.unit = unit;
    figures_.push_back(f);
    return figures_.back();
}

Figure *Report::find(const std::string &id)
{
    for (Figure &f : figures_)
        if (f.id == id)
            return &f;
    return nullptr;
}

std::vector<std::string> Report::missing() const
{
    std::vector<std::string> ids;
    for (const Figure &f : figures_)
        if (!f.median || (!f.peerName.empty() && !f.peer))
            ids.push_back(f.id);
    return ids;
}

namespace {

std::string number(const std::optional<double> &v, int decimals = 1)
{
    if (!v)
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *v);
    return text;
}

std::string targetText(const Figure &f)
{
    char text[48] = "";
    if (f.maxRatio)
        std::snprintf(text, sizeof text, "<= %.2fx", *f.maxRatio);
    else if (f.minRatio)
        std::snprintf(text, sizeof text, ">= %.2fx", *f.minRatio);
    if (f.maxValue)
        std::snprintf(text + std::strlen(text), sizeof text - std::strlen(text), "%s<= %g %s", *text ? ", " : "",
                      *f.maxValue, f.unit.c_str());
    return text;
}

} // namespace

void Report::print() const
{
    std::printf("\n%-17s %-46s %10s %8s %4s %-6s %10s  %-44s %6s %9s %s\n", "figure", "what", "median", "p95", "n",
                "unit", "floor/peer", "(compared with)", "ratio", "target", "");
    for (const Figure &f : figures_) {
        const std::optional<bool> ok = f.met();
        const std::string n = f.samples > 0 ? std::to_string(f.samples) : "";
        std::printf("%-17s %-46s %10s %8s %4s %-6s %10s  %-44s %6s %9s %s\n", f.id.c_str(), f.what.c_str(),
                    number(f.median).c_str(), number(f.p95).c_str(), n.c_str(), f.unit.c_str(),
                    number(f.peer).c_str(), (f.peerName + (f.hardwareFloor ? " [hw floor]" : "")).c_str(),
                    number(f.ratio(), 2).c_str(), targetText(f).c_str(),
                    !f.failure.empty() ? "FAILED" : ok ? (*ok ? "met" : "MISSED") : "");
        if (!f.failure.empty())
            std::printf("%-17s   FAILED: %s\n", "", f.failure.c_str());
        if (!f.note.empty())
            std::printf("%-17s   %s\n", "", f.note.c_str());
    }
    std::fflush(stdout);
}

bool Report::writeJson(const std::string &path, const std::string &mode) const
{
    QJsonArray rows;
    auto value = [](const std::optional<double> &v) { return v ? QJsonValue(*v) : QJsonValue(); };
    for (const Figure &f : figures_) {
        QJsonObject row;
        row["id"] = QString::fromStdString(f.id);
        row["what"] = QString::fromStdString(f.what);
        row["unit"] = QString::fromStdString(f.unit);
        row["median"] = value(f.median);
        row["p95"] = value(f.p95);
        row["compared_with"] = QString::fromStdString(f.peerName);
        row["peer"] = value(f.peer);
        row["hardware_floor"] = f.hardwareFloor;
        row["ratio"] = value(f.ratio());
        row["target"] = QString::fromStdString(targetText(f));
        const std::optional<bool> ok = f.met();
        row["target_met"] = ok ? QJsonValue(*ok) : QJsonValue();
        row["note"] = QString::fromStdString(f.note);
        row["samples"] = f.samples;
        row["failure"] = QString::fromStdString(f.failure);
        rows.append(row);
    }
    QJsonObject doc;
    doc["mode"] = QString::fromStdString(mode);
    doc["figures"] = rows;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(QJsonDocument(doc).toJson()) > 0;
}

} // namespace halden::bench
