#include "actions.h"

#include "clock_text.h"
#include "json_text.h"
#include "next_wake.h"
#include "number_syntax.h"
#include "schedule_text.h"

#include <cstring>

namespace orvelctl {

using halden::hexByte;

namespace {

using ScheduleGet = int32_t(ORVL_CALL *)(ScheduleRecord *);

ScheduleGet scheduleGetter(int n)
{
    switch (n) {
    case 1: return ORVL_GetSchedule1;
    case 2: return ORVL_GetSchedule2;
    case 3: return ORVL_GetSchedule3;
    default: return ORVL_GetSchedule4;
    }
}

ScheduleRecord applyChange(ScheduleRecord r, const ScheduleChange &c)
{
    if (c.days)
        r.activeDays = *c.days;
    if (c.onHour) {
        r.onHour = *c.onHour;
        r.onMinute = *c.onMinute;
    }
    if (c.offHour) {
        r.offHour = *c.offHour;
        r.offMinute = *c.offMinute;
    }
    if (c.onEnabled)
        r.enableFlags = static_cast<uint8_t>(*c.onEnabled ? (r.enableFlags | 1u) : (r.enableFlags & ~1u));
    if (c.offEnabled)
        r.enableFlags = static_cast<uint8_t>(*c.offEnabled ? (r.enableFlags | 2u) : (r.enableFlags & ~2u));
    return r;
}

std::string byteLine(const char *jsonKey, uint8_t value, bool json)
{
    return json ? std::string("{\"") + jsonKey + "\":" + std::to_string(value) + "}\n" : hexByte(value) + "\n";
}

} // namespace

int runRequest(const Request &r, std::string &text, std::string &problem)
{
    text.clear();
    problem.clear();
    int32_t status = ORVL_OK;
    switch (r.action) {
    case Action::Help:
        return ORVL_OK;
    case Action::Version: {
        char buffer[17] = {};
        status = ORVL_GetVersionString(buffer, 16);
        if (status == ORVL_OK) {
            // A 16-character text has no zero byte of its own.
            const std::string version(buffer, strnlen(buffer, 16));
            text = r.json ? "{\"version\":" + jsonString(version) + "}\n" : version + "\n";
        }
        return status;
    }
    case Action::Features: {
        uint32_t bitmap = 0;
        status = ORVL_GetFeatureBitmap(&bitmap);
        if (status == ORVL_OK)
            text = r.json ? "{\"featureBitmap\":" + std::to_string(bitmap) + "}\n" : hexByte(bitmap) + "\n";
        return status;
    }
    case Action::ClockGet: {
        RtcRecord clock{};
        status = ORVL_GetRTC(&clock);
        if (status != ORVL_OK)
            return status;
        if (r.json) {
            text = "{\"clock\":" + jsonString(formatClock(clock)) + ",\"bytes\":[";
            for (int i = 0; i < 6; ++i)
                text += (i ? "," : "") + std::to_string(clock.bytes[i]);
            text += "]}\n";
        } else {
            text = formatClock(clock) + "\n";
        }
        return status;
    }
    case Action::ClockSet:
        return ORVL_SetRTC(&r.clock);
    case Action::PowerResumeGet: {
        int32_t enabled = 0;
        status = ORVL_GetPwrResume(&enabled);
        if (status == ORVL_OK)
            text = r.json ? "{\"powerResume\":" + std::to_string(enabled ? 1 : 0) + "}\n"
                          : std::string(enabled ? "on" : "off") + "\n";
        return status;
    }
    case Action::PowerResumeSet:
        return ORVL_SetPwrResume(&r.enabled);
    case Action::ScheduleGet: {
        ScheduleRecord record{};
        status = scheduleGetter(r.schedule)(&record);
        if (status == ORVL_OK)
            text = r.json ? scheduleJson(record) + "\n" : formatSchedule(r.schedule, record);
        return status;
    }
    case Action::ScheduleNext: {
        RtcRecord clock{};
        ScheduleRecord schedules[4] = {};
        status = ORVL_GetRTC(&clock);
        for (int n = 1; n <= 4 && status == ORVL_OK; ++n)
            status = scheduleGetter(n)(&schedules[n - 1]);
        if (status == ORVL_OK)
            nextWakeReport(clock, schedules, r.json, text, problem);
        return status;
    }
    case Action::ScheduleSet: {
        ScheduleRecord record{};
        if (r.change.raw) {
            record = *r.change.raw;
        } else {
            // Fields not given keep what the controller holds now.
            status = scheduleGetter(r.schedule)(&record);
            if (status != ORVL_OK)
                return status;
            record = applyChange(record, r.change);
        }
        return r.schedule == 3 ? ORVL_SetSchedule3(&record) : ORVL_SetSchedule4(&record);
    }
    case Action::MiscGet: {
        uint8_t value = 0;
        status = ORVL_GetMiscCtrl(&value);
        if (status == ORVL_OK)
            text = byteLine("miscCtrl", value, r.json);
        return status;
    }
    case Action::MiscSet:
        return ORVL_SetMiscCtrl(&r.value);
    case Action::Tick:
        return ORVL_SetPwrOnAfterShutdownTick(&r.value);
    case Action::SmbusRead: {
        uint8_t value = 0;
        status = ORVL_SMBusRead(r.address, r.reg, &value);
        if (status == ORVL_OK)
            text = byteLine("value", value, r.json);
        return status;
    }
    case Action::SmbusWrite:
        return ORVL_SMBusWrite(r.address, r.reg, &r.value);
    }
    return status;
}

} // namespace orvelctl
