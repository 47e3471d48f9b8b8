#include "orvel_api.h"

#include "platform/agent_platform.h"

namespace {

template <typename Fn>
void bindEntry(Fn &entry, void *library, OrvelResolver resolve, const char *name)
{
    entry = reinterpret_cast<Fn>(resolve(library, name));
}

} // namespace

void resolveOrvel(OrvelApi &api, void *library, OrvelResolver resolve)
{
    api.library = library;
    bindEntry(api.openInterface, library, resolve, "ORVL_OpenInterface");
    bindEntry(api.closeInterface, library, resolve, "ORVL_CloseInterface");
    bindEntry(api.getVersionString, library, resolve, "ORVL_GetVersionString");
    bindEntry(api.getFeatureBitmap, library, resolve, "ORVL_GetFeatureBitmap");
    bindEntry(api.getRtc, library, resolve, "ORVL_GetRTC");
    bindEntry(api.setRtc, library, resolve, "ORVL_SetRTC");
    bindEntry(api.getPwrResume, library, resolve, "ORVL_GetPwrResume");
    bindEntry(api.setPwrResume, library, resolve, "ORVL_SetPwrResume");
    bindEntry(api.getSchedule3, library, resolve, "ORVL_GetSchedule3");
    bindEntry(api.setSchedule3, library, resolve, "ORVL_SetSchedule3");
    bindEntry(api.getSchedule4, library, resolve, "ORVL_GetSchedule4");
    bindEntry(api.setSchedule4, library, resolve, "ORVL_SetSchedule4");
    bindEntry(api.smbusRead, library, resolve, "ORVL_SMBusRead");
    bindEntry(api.smbusWrite, library, resolve, "ORVL_SMBusWrite");
    bindEntry(api.setPwrOnAfterShutdownTick, library, resolve, "ORVL_SetPwrOnAfterShutdownTick");
    bindEntry(api.getMiscCtrl, library, resolve, "ORVL_GetMiscCtrl");
    bindEntry(api.setMiscCtrl, library, resolve, "ORVL_SetMiscCtrl");
}

bool bindOrvel(OrvelApi &api)
{
    const agent_platform::Table &os = agent_platform::table();
    void *library = os.loadOrvelLibrary();
    if (!library)
        return false;
    resolveOrvel(api, library, os.resolve);
    return true;
}
