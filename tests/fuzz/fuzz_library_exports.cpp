// The library over a platform whose driver answers come from the fuzz input
// (firmware table, read windows, ready and done bits): every export is
// called, each returns a documented status, and no run pauses without end.
#include "core/library_state.h"
#include "fuzz_platform.h"
#include "orvel.h"

#include <cstdlib>
#include <vector>

namespace {

void expectDocumented(int32_t status)
{
    switch (status) {
    case ORVL_OK:
    case ORVL_ERR_NO_SESSION:
    case ORVL_ERR_NOT_VERIFIED:
    case ORVL_ERR_TIMEOUT:
    case ORVL_ERR_PROTECTED:
        return;
    default:
        std::abort();
    }
}

ScheduleRecord scheduleFromInput()
{
    ScheduleRecord r;
    r.onHour = fuzz::nextByte();
    r.onMinute = fuzz::nextByte();
    r.offHour = fuzz::nextByte();
    r.offMinute = fuzz::nextByte();
    r.enableFlags = fuzz::nextByte();
    r.activeDays = fuzz::nextByte();
    return r;
}

void callEveryExport()
{
    uint32_t bitmap = 0;
    RtcRecord rtc{};
    int32_t enabled = 0;
    ScheduleRecord schedule{};
    uint8_t value = 0;

    // The caller's buffer is exactly as long as it says, so a write past it shows.
    std::vector<char> version(fuzz::nextByte() % 40 + 1);
    expectDocumented(ORVL_GetVersionString(version.data(), int32_t(version.size())));
    expectDocumented(ORVL_GetFeatureBitmap(&bitmap));
    expectDocumented(ORVL_GetRTC(&rtc));
    for (uint8_t &b : rtc.bytes)
        b ^= fuzz::nextByte();
    expectDocumented(ORVL_SetRTC(&rtc));
    expectDocumented(ORVL_GetPwrResume(&enabled));
    enabled = int32_t(fuzz::nextByte()) - 1;
    expectDocumented(ORVL_SetPwrResume(&enabled));
    expectDocumented(ORVL_GetSchedule1(&schedule));
    expectDocumented(ORVL_GetSchedule2(&schedule));
    expectDocumented(ORVL_GetSchedule3(&schedule));
    expectDocumented(ORVL_GetSchedule4(&schedule));
    schedule = scheduleFromInput();
    expectDocumented(ORVL_SetSchedule3(&schedule));
    schedule = scheduleFromInput();
    expectDocumented(ORVL_SetSchedule4(&schedule));
    const int32_t address = int32_t(fuzz::nextByte()) - (fuzz::nextByte() & 1 ? 256 : 0);
    const int32_t reg = int32_t(fuzz::nextByte());
    expectDocumented(ORVL_SMBusRead(address, reg, &value));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SMBusWrite(address, reg, &value));
    expectDocumented(ORVL_GetMiscCtrl(&value));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SetMiscCtrl(&value));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SetPwrOnAfterShutdownTick(&value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    orvel::resetStateForTests();
    fuzz::startRun(data, size);
    // Before a session, after an open that may fail, and after a second open.
    callEveryExport();
    expectDocumented(ORVL_OpenInterface());
    callEveryExport();
    if (fuzz::nextByte() & 1) {
        expectDocumented(ORVL_OpenInterface());
        callEveryExport();
    }
    expectDocumented(ORVL_CloseInterface());
    expectDocumented(ORVL_CloseInterface());
    return 0;
}
