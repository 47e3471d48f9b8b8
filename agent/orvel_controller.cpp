#include "orvel_controller.h"

#include <QDebug>

OrvelController::OrvelController(const OrvelApi &api) : api_(api) {}

bool OrvelController::open()
{
    available_ = false;
    if (!api_.openInterface)
        return false;
    if (api_.openInterface() == ORVL_OK)
        available_ = true;
    else
        qDebug().noquote() << "ORVL_OpenInterface failed";
    return available_;
}

ORVL_ScheduleGetFn OrvelController::getter(int slot) const
{
    return slot == 1 ? api_.getSchedule3 : slot == 2 ? api_.getSchedule4 : nullptr;
}

ORVL_ScheduleSetFn OrvelController::setter(int slot) const
{
    return slot == 1 ? api_.setSchedule3 : slot == 2 ? api_.setSchedule4 : nullptr;
}

ScheduleRecord OrvelController::readSchedule(int slot)
{
    ScheduleRecord record {};
    const ORVL_ScheduleGetFn get = getter(slot);
    if (available_ && get)
        get(&record); // status not examined: the display shows what came back
    return record;
}

bool OrvelController::canWriteSchedule(int slot) const
{
    return available_ && setter(slot) != nullptr;
}

bool OrvelController::writeSchedule(int slot, const ScheduleRecord &record)
{
    const ORVL_ScheduleSetFn set = setter(slot);
    if (!available_ || !set)
        return false;
    ScheduleRecord copy = record;
    return set(&copy) == ORVL_OK;
}
