#pragma once
// The widgets that show one remote time slot, and the moves between them and
// the slot's settings.
#include <array>

#include "controller_settings.h"

class QCheckBox;
class QGroupBox;
class QTimeEdit;

struct SlotWidgets {
    // Index k is bit k of the day mask: Sunday first.
    std::array<QCheckBox *, 7> days{};
    QGroupBox *pwrOn = nullptr;
    QTimeEdit *pwrOnTime = nullptr;
    QGroupBox *pwrOff = nullptr;
    QTimeEdit *pwrOffTime = nullptr;
};

void fillSlotWidgets(const SlotWidgets &widgets, const SlotSettings &slot);
SlotSettings collectSlotWidgets(const SlotWidgets &widgets);

// Power-off is only meaningful together with power-on: when the operator
// unchecks power-on, power-off is unchecked and locked until power-on returns.
void applyEnableRule(const SlotWidgets &widgets);
