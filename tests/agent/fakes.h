#pragma once
// Stand-ins for the controller library, the window and the EDID port, each
// recording what the command handler asked of it.
#include "command_targets.h"

#include <vector>

struct ScheduleWrite {
    int slot;
    ScheduleRecord record;
};

class FakeScheduleStore : public ScheduleStore {
public:
    bool available = true;
    bool canWriteSchedule(int) const override { return available; }
    bool writeWorks = true;
    ScheduleRecord held{};  // what readSchedule gives
    bool readWorks = true;
    bool writeSchedule(int slot, const ScheduleRecord &record) override
    {
        writes.push_back({slot, record});
        return writeWorks;
    }
    bool readSchedule(int, ScheduleRecord &record) override
    {
        record = held;
        return readWorks;
    }
    std::vector<ScheduleWrite> writes;
};

class FakeScheduleDisplay : public ScheduleDisplay {
public:
    void showSchedule(int slot, ScheduleRecord record) override { shown.push_back({slot, record}); }
    void showUnknown(int slot) override { unknown.push_back(slot); }
    std::vector<ScheduleWrite> shown;
    std::vector<int> unknown;
};

class FakeEdidSender : public EdidSender {
public:
    bool open = true;
    bool edidPortOpen() const override { return open; }
    void sendEdidReenumeration() override { ++sequences; }
    int sequences = 0;
};

inline bool operator==(const ScheduleRecord &a, const ScheduleRecord &b)
{
    return a.onHour == b.onHour && a.onMinute == b.onMinute && a.offHour == b.offHour &&
           a.offMinute == b.offMinute && a.enableFlags == b.enableFlags && a.activeDays == b.activeDays;
}
