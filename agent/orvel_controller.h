#pragma once
// The controller as the agent uses it through the run-time bound library:
// one session opened at start-up, schedules 3 and 4 read and written.
#include "command_targets.h"
#include "orvel_api.h"

class OrvelController : public ScheduleStore {
public:
    explicit OrvelController(const OrvelApi &api);

    // Opens the session; false when the library lacks ORVL_OpenInterface or
    // the call fails (then "ORVL_OpenInterface failed" is logged).
    bool open();
    bool available() const { return available_; }

    // Schedule 3 for slot 1, 4 for slot 2. A record the library could not or
    // did not fill reads as zeros, never as stray bytes.
    bool readSchedule(int slot, ScheduleRecord &record) override;

    bool canWriteSchedule(int slot) const override;
    bool writeSchedule(int slot, const ScheduleRecord &record) override;

private:
    ORVL_ScheduleGetFn getter(int slot) const;
    ORVL_ScheduleSetFn setter(int slot) const;

    OrvelApi api_;
    bool available_ = false;
};
