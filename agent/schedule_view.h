#pragma once
// Shows a schedule record in one slot's widgets of the status window.
#include "command_targets.h"

namespace Ui {
class MainFormClass;
}

class ScheduleView : public ScheduleDisplay {
public:
    explicit ScheduleView(Ui::MainFormClass &ui);

    // Slot 1 or 2; any other slot number does nothing. A time outside the
    // clock (hour above 23, minute above 59) leaves the time edit as it was.
    void showSchedule(int slot, ScheduleRecord record) override;
    // Hides the slot's days and times (its title stays): what they would
    // show is not known to be held.
    void showUnknown(int slot) override;

    // Hides the rule and both slots' widgets (no library to show them from).
    void hideSchedules();

private:
    void setKnown(int slot, bool known);
    Ui::MainFormClass &ui_;
};
