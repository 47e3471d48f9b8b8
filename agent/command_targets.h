#pragma once
// What an accepted command acts on, as three small interfaces so that the
// command logic can be exercised without the library, the window or a port.
#include "orvel.h"

// The controller's schedules 3 and 4, which hold remote time slots 1 and 2.
class ScheduleStore {
public:
    virtual ~ScheduleStore() = default;
    // False when the library is unusable or lacks the setter for this slot.
    virtual bool canWriteSchedule(int slot) const = 0;
    // False when the controller did not take the record.
    virtual bool writeSchedule(int slot, const ScheduleRecord &record) = 0;
    // What the controller holds now; false when it could not be read (the
    // record then holds what came back, all zero before the first byte).
    virtual bool readSchedule(int slot, ScheduleRecord &record) = 0;
};

// The status window's widgets of one slot.
class ScheduleDisplay {
public:
    virtual ~ScheduleDisplay() = default;
    virtual void showSchedule(int slot, ScheduleRecord record) = 0;
    // The slot's record is not known (the controller could not be read):
    // no values are shown for it until the next showSchedule.
    virtual void showUnknown(int slot) = 0;
};

// The EDID emulator's serial port.
class EdidSender {
public:
    virtual ~EdidSender() = default;
    virtual bool edidPortOpen() const = 0;
    virtual void sendEdidReenumeration() = 0;
};
