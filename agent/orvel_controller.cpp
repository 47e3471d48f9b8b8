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

bool OrvelController::readSchedule(int slot, ScheduleRecord &record)
{
    record = ScheduleRecord {};
    const ORVL_ScheduleGetFn get = getter(slot);
    return available_ && get && get(&record) == ORVL_OK;
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
