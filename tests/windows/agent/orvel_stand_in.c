/* A stand-in "ORVEL.DLL" that lacks one entry point (named by the build), for
 * the agent's binding tests. The others answer ORVL_OK; the schedule getters
 * fill a recognisable record. StandInCalls counts every call made. */
#include <string.h>

#include "orvel.h"

static int calls;

__declspec(dllexport) int StandInCalls(void) { return calls; }

#define STAND_IN(name, params) \
    __declspec(dllexport) int32_t ORVL_CALL name params { ++calls; return ORVL_OK; }

#ifndef ORVEL_STAND_IN_LACKS_ORVL_OpenInterface
STAND_IN(ORVL_OpenInterface, (void))
#endif
STAND_IN(ORVL_CloseInterface, (void))
STAND_IN(ORVL_GetVersionString, (char *text, int32_t length))
STAND_IN(ORVL_GetFeatureBitmap, (uint32_t *bitmap))
STAND_IN(ORVL_GetRTC, (RtcRecord *rtc))
STAND_IN(ORVL_SetRTC, (const RtcRecord *rtc))
STAND_IN(ORVL_GetPwrResume, (int32_t *enabled))
STAND_IN(ORVL_SetPwrResume, (const int32_t *enabled))
STAND_IN(ORVL_SetSchedule3, (const ScheduleRecord *schedule))
#ifndef ORVEL_STAND_IN_LACKS_ORVL_SetSchedule4
STAND_IN(ORVL_SetSchedule4, (const ScheduleRecord *schedule))
#endif
STAND_IN(ORVL_SMBusRead, (int32_t address, int32_t reg, uint8_t *value))
STAND_IN(ORVL_SMBusWrite, (int32_t address, int32_t reg, const uint8_t *value))
STAND_IN(ORVL_GetMiscCtrl, (uint8_t *value))
STAND_IN(ORVL_SetMiscCtrl, (const uint8_t *value))
STAND_IN(ORVL_SetPwrOnAfterShutdownTick, (const uint8_t *value))

static int32_t fillSchedule(ScheduleRecord *schedule, uint8_t mark)
{
    ++calls;
    memset(schedule, mark, sizeof *schedule);
    return ORVL_OK;
}

__declspec(dllexport) int32_t ORVL_CALL ORVL_GetSchedule3(ScheduleRecord *schedule)
{
    return fillSchedule(schedule, 3);
}

__declspec(dllexport) int32_t ORVL_CALL ORVL_GetSchedule4(ScheduleRecord *schedule)
{
    return fillSchedule(schedule, 4);
}
