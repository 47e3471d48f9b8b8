#ifndef ORVEL_H
#define ORVEL_H
/* orvel: access to the board's Orvel power-management controller (SMBus 0xAE)
 * through the KMUI driver and the firmware call. Every function returns one of
 * the status codes below and passes data through caller-owned memory. */
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVL_CALL __stdcall
#else
#define ORVL_CALL
#endif

#if defined(_WIN32)
#ifdef ORVEL_BUILDING
/* orvel.def lists the exports, each under its plain and its decorated name;
 * dllexport would add a third, undecorated-underscore variant. */
#define ORVL_EXPORT
#else
#define ORVL_EXPORT __declspec(dllimport)
#endif
#else
#define ORVL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ORVL_OK = 0,
    ORVL_ERR_NO_SESSION = 1,
    ORVL_ERR_NOT_VERIFIED = 2,
    ORVL_ERR_TIMEOUT = 5,
    ORVL_ERR_PROTECTED = 6,
    /* A pointer argument was null; nothing was sent to the driver. */
    ORVL_ERR_NULL_POINTER = 7
};

#pragma pack(push, 1)
/* One power schedule as callers hold it. enableFlags: bit 0 power-on enabled,
 * bit 1 power-off enabled. activeDays: bit 0 Sunday to bit 6 Saturday. */
typedef struct ScheduleRecord {
    uint8_t onHour;
    uint8_t onMinute;
    uint8_t offHour;
    uint8_t offMinute;
    uint8_t enableFlags;
    uint8_t activeDays;
} ScheduleRecord;

/* Clock registers 0x20..0x25, byte k is register 0x20 + k, as the controller keeps them. */
typedef struct RtcRecord {
    uint8_t bytes[6];
} RtcRecord;
#pragma pack(pop)

ORVL_EXPORT int32_t ORVL_CALL ORVL_OpenInterface(void);
ORVL_EXPORT int32_t ORVL_CALL ORVL_CloseInterface(void);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetVersionString(char *text, int32_t length);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetFeatureBitmap(uint32_t *bitmap);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetRTC(RtcRecord *rtc);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetRTC(const RtcRecord *rtc);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetPwrResume(int32_t *enabled);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetPwrResume(const int32_t *enabled);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetSchedule1(ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetSchedule2(ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetSchedule3(ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetSchedule4(ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetSchedule3(const ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetSchedule4(const ScheduleRecord *schedule);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SMBusRead(int32_t address, int32_t reg, uint8_t *value);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SMBusWrite(int32_t address, int32_t reg, const uint8_t *value);
ORVL_EXPORT int32_t ORVL_CALL ORVL_GetMiscCtrl(uint8_t *value);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetMiscCtrl(const uint8_t *value);
ORVL_EXPORT int32_t ORVL_CALL ORVL_SetPwrOnAfterShutdownTick(const uint8_t *value);

/* Pointer types for callers that bind the library at run time. */
typedef int32_t(ORVL_CALL *ORVL_VoidFn)(void);
typedef int32_t(ORVL_CALL *ORVL_GetVersionStringFn)(char *, int32_t);
typedef int32_t(ORVL_CALL *ORVL_GetFeatureBitmapFn)(uint32_t *);
typedef int32_t(ORVL_CALL *ORVL_GetRtcFn)(RtcRecord *);
typedef int32_t(ORVL_CALL *ORVL_SetRtcFn)(const RtcRecord *);
typedef int32_t(ORVL_CALL *ORVL_GetPwrResumeFn)(int32_t *);
typedef int32_t(ORVL_CALL *ORVL_SetPwrResumeFn)(const int32_t *);
typedef int32_t(ORVL_CALL *ORVL_ScheduleGetFn)(ScheduleRecord *);
typedef int32_t(ORVL_CALL *ORVL_ScheduleSetFn)(const ScheduleRecord *);
typedef int32_t(ORVL_CALL *ORVL_SMBusReadFn)(int32_t, int32_t, uint8_t *);
typedef int32_t(ORVL_CALL *ORVL_SMBusWriteFn)(int32_t, int32_t, const uint8_t *);
typedef int32_t(ORVL_CALL *ORVL_ByteGetFn)(uint8_t *);
typedef int32_t(ORVL_CALL *ORVL_ByteSetFn)(const uint8_t *);

#ifdef __cplusplus
}
#endif
#endif
