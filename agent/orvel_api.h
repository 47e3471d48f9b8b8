#pragma once
// The controller library's entry points as the agent binds them at run time.
// The library is never linked: without it the agent still runs.
#include "orvel.h"

// One entry per name, in the order they are resolved; a name the library
// lacks stays null and is never called through.
struct OrvelApi {
    void *library = nullptr;
    ORVL_VoidFn openInterface = nullptr;
    ORVL_VoidFn closeInterface = nullptr;
    ORVL_GetVersionStringFn getVersionString = nullptr;
    ORVL_GetFeatureBitmapFn getFeatureBitmap = nullptr;
    ORVL_GetRtcFn getRtc = nullptr;
    ORVL_SetRtcFn setRtc = nullptr;
    ORVL_GetPwrResumeFn getPwrResume = nullptr;
    ORVL_SetPwrResumeFn setPwrResume = nullptr;
    ORVL_ScheduleGetFn getSchedule3 = nullptr;
    ORVL_ScheduleSetFn setSchedule3 = nullptr;
    ORVL_ScheduleGetFn getSchedule4 = nullptr;
    ORVL_ScheduleSetFn setSchedule4 = nullptr;
    ORVL_SMBusReadFn smbusRead = nullptr;
    ORVL_SMBusWriteFn smbusWrite = nullptr;
    ORVL_ByteSetFn setPwrOnAfterShutdownTick = nullptr;
    ORVL_ByteGetFn getMiscCtrl = nullptr;
    ORVL_ByteSetFn setMiscCtrl = nullptr;
};

// Signature of the platform's symbol lookup, so tests can bind a fake library.
typedef void *(*OrvelResolver)(void *library, const char *name);

// Loads the library and resolves the table; true when the library file loaded.
bool bindOrvel(OrvelApi &api);
// Resolves the table from an already loaded library.
void resolveOrvel(OrvelApi &api, void *library, OrvelResolver resolve);
