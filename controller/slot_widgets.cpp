#include "slot_widgets.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QTime>
#include <QTimeEdit>

void fillSlotWidgets(const SlotWidgets &widgets, const SlotSettings &slot)
{
    for (std::size_t bit = 0; bit < widgets.days.size(); ++bit)
        widgets.days[bit]->setChecked((slot.activeDay >> bit) & 1u);
    widgets.pwrOn->setChecked(slot.pwrOnEnable);
    widgets.pwrOnTime->setTime(QTime(slot.pwrOnHour, slot.pwrOnMinute, 0, 0));
    widgets.pwrOff->setChecked(slot.pwrOffEnable);
    widgets.pwrOffTime->setTime(QTime(slot.pwrOffHour, slot.pwrOffMinute, 0, 0));
}

SlotSettings collectSlotWidgets(const SlotWidgets &widgets)
{
    SlotSettings slot;
    slot.activeDay = 0;
    for (std::size_t bit = 0; bit < widgets.days.size(); ++bit) {
        if (widgets.days[bit]->isChecked())
            slot.activeDay |= static_cast<quint16>(1u << bit);
    }
    slot.pwrOnEnable = widgets.pwrOn->isChecked();
    const QTime on = widgets.pwrOnTime->time();
    slot.pwrOnHour = static_cast<quint8>(on.hour());
    slot.pwrOnMinute = static_cast<quint8>(on.minute());
    slot.pwrOffEnable = widgets.pwrOff->isChecked();
    const QTime off = widgets.pwrOffTime->time();
    slot.pwrOffHour = static_cast<quint8>(off.hour());
    slot.pwrOffMinute = static_cast<quint8>(off.minute());
    return slot;
}

void applyEnableRule(const SlotWidgets &widgets)
{
    if (widgets.pwrOn->isChecked()) {
        widgets.pwrOff->setEnabled(true);
    } else {
        widgets.pwrOff->setChecked(false);
        widgets.pwrOff->setEnabled(false);
    }
}
