// The library over a platform whose driver answers come from the fuzz input
// (firmware table, read windows, ready and done bits): every export is
// called, now and then with a null pointer, each returns a documented status,
// and no run pauses without end.
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
    case ORVL_ERR_NULL_POINTER:
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

// Now and then a caller passes null instead of its buffer.
template <typename T> T *maybeNull(T *pointer)
{
    return (fuzz::nextByte() & 0x1F) == 0 ? nullptr : pointer;
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
    expectDocumented(ORVL_GetVersionString(maybeNull(version.data()), int32_t(version.size())));
    expectDocumented(ORVL_GetFeatureBitmap(maybeNull(&bitmap)));
    expectDocumented(ORVL_GetRTC(maybeNull(&rtc)));
    for (uint8_t &b : rtc.bytes)
        b ^= fuzz::nextByte();
    expectDocumented(ORVL_SetRTC(maybeNull(&rtc)));
    expectDocumented(ORVL_GetPwrResume(maybeNull(&enabled)));
    enabled = int32_t(fuzz::nextByte()) - 1;
    expectDocumented(ORVL_SetPwrResume(maybeNull(&enabled)));
    expectDocumented(ORVL_GetSchedule1(maybeNull(&schedule)));
    expectDocumented(ORVL_GetSchedule2(maybeNull(&schedule)));
    expectDocumented(ORVL_GetSchedule3(maybeNull(&schedule)));
    expectDocumented(ORVL_GetSchedule4(maybeNull(&schedule)));
    schedule = scheduleFromInput();
    expectDocumented(ORVL_SetSchedule3(maybeNull(&schedule)));
    schedule = scheduleFromInput();
    expectDocumented(ORVL_SetSchedule4(maybeNull(&schedule)));
    const int32_t address = int32_t(fuzz::nextByte()) - (fuzz::nextByte() & 1 ? 256 : 0);
    const int32_t reg = int32_t(fuzz::nextByte());
    expectDocumented(ORVL_SMBusRead(address, reg, maybeNull(&value)));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SMBusWrite(address, reg, maybeNull(&value)));
    expectDocumented(ORVL_GetMiscCtrl(maybeNull(&value)));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SetMiscCtrl(maybeNull(&value)));
    value = fuzz::nextByte();
    expectDocumented(ORVL_SetPwrOnAfterShutdownTick(maybeNull(&value)));
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
