#include "schedule_view.h"

#include "ui_mainform.h"

#include <QTime>

#include <algorithm>

namespace {

void showTime(QTimeEdit *edit, int hour, int minute)
{
    if (QTime::isValid(hour, minute, 0))
        edit->setTime(QTime(hour, minute, 0));
}

} // namespace

ScheduleView::ScheduleView(Ui::MainFormClass &ui) : ui_(ui) {}

void ScheduleView::showSchedule(int slot, ScheduleRecord record)
{
    QCheckBox *days[7];
    QGroupBox *pwrOn;
    QTimeEdit *pwrOnTime;
    QGroupBox *pwrOff;
    QTimeEdit *pwrOffTime;
    if (slot == 1) {
        QCheckBox *slotDays[7] = {ui_.cbRTS1_Sun, ui_.cbRTS1_Mon, ui_.cbRTS1_Tue, ui_.cbRTS1_Wed,
                                  ui_.cbRTS1_Thu, ui_.cbRTS1_Fri, ui_.cbRTS1_Sat};
        std::copy(slotDays, slotDays + 7, days);
        pwrOn = ui_.gbRTS1_PwrOn;
        pwrOnTime = ui_.tebRTS1_PwrOn;
        pwrOff = ui_.gbRTS1_PwrOff;
        pwrOffTime = ui_.tebRTS1_PwrOff;
    } else if (slot == 2) {
        QCheckBox *slotDays[7] = {ui_.cbRTS2_Sun, ui_.cbRTS2_Mon, ui_.cbRTS2_Tue, ui_.cbRTS2_Wed,
                                  ui_.cbRTS2_Thu, ui_.cbRTS2_Fri, ui_.cbRTS2_Sat};
        std::copy(slotDays, slotDays + 7, days);
        pwrOn = ui_.gbRTS2_PwrOn;
        pwrOnTime = ui_.tebRTS2_PwrOn;
        pwrOff = ui_.gbRTS2_PwrOff;
        pwrOffTime = ui_.tebRTS2_PwrOff;
    } else {
        return;
    }

    setKnown(slot, true);
    for (int bit = 0; bit < 7; ++bit)
        days[bit]->setChecked((record.activeDays >> bit) & 1);
    pwrOn->setChecked(record.enableFlags & 0x01);
    showTime(pwrOnTime, record.onHour, record.onMinute);
    pwrOff->setChecked(record.enableFlags & 0x02);
    showTime(pwrOffTime, record.offHour, record.offMinute);
}

void ScheduleView::showUnknown(int slot)
{
    setKnown(slot, false);
}

void ScheduleView::setKnown(int slot, bool known)
{
    if (slot != 1 && slot != 2)
        return;
    QWidget *const parts[] = {slot == 1 ? ui_.gbRTS1ActiveDays : ui_.gbRTS2ActiveDays,
                              slot == 1 ? ui_.gbRTS1_PwrOn : ui_.gbRTS2_PwrOn,
                              slot == 1 ? ui_.gbRTS1_PwrOff : ui_.gbRTS2_PwrOff};
    // The widgets are display-only (always greyed), so an unknown record is
    // shown by leaving them out: no values at all rather than wrong ones.
    for (QWidget *part : parts)
        part->setVisible(known);
}

void ScheduleView::hideSchedules()
{
    QWidget *const parts[] = {ui_.labHSpacer,   ui_.labRTS1,      ui_.gbRTS1ActiveDays,
                              ui_.gbRTS1_PwrOn, ui_.gbRTS1_PwrOff, ui_.labRTS2,
                              ui_.gbRTS2ActiveDays, ui_.gbRTS2_PwrOn, ui_.gbRTS2_PwrOff};
    for (QWidget *part : parts)
        part->setVisible(false);
}
