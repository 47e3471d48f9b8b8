// The four schedule blocks; only blocks 3 and 4 can be written.
#include "core/register_map.h"
#include "core/smbus.h"
#include "orvel.h"

using namespace orvel;

namespace {

int32_t getSchedule(int block, ScheduleRecord *schedule)
{
    if (!schedule)
        return ORVL_ERR_NULL_POINTER;
    uint8_t *record = reinterpret_cast<uint8_t *>(schedule);
    for (int i = 0; i < kScheduleLength; ++i) {
        // The byte lands in the record before its status is looked at.
        const int32_t status =
            smbusReadByte(kControllerAddress, uint8_t(kScheduleBase[block] + i), record[kScheduleRecordByte[i]]);
        if (status != ORVL_OK)
            return status;
    }
    return ORVL_OK;
}

int32_t setSchedule(int block, const ScheduleRecord *schedule)
{
    if (!schedule)
        return ORVL_ERR_NULL_POINTER;
    const uint8_t *record = reinterpret_cast<const uint8_t *>(schedule);
    for (int i = 0; i < kScheduleLength; ++i) {
        // No undo: registers written before a failure keep the new bytes.
        const int32_t status =
            smbusWriteByte(kControllerAddress, uint8_t(kScheduleBase[block] + i), record[kScheduleRecordByte[i]]);
        if (status != ORVL_OK)
            return status;
    }
    return ORVL_OK;
}

} // namespace

int32_t ORVL_CALL ORVL_GetSchedule1(ScheduleRecord *schedule) { return getSchedule(0, schedule); }
int32_t ORVL_CALL ORVL_GetSchedule2(ScheduleRecord *schedule) { return getSchedule(1, schedule); }
int32_t ORVL_CALL ORVL_GetSchedule3(ScheduleRecord *schedule) { return getSchedule(2, schedule); }
int32_t ORVL_CALL ORVL_GetSchedule4(ScheduleRecord *schedule) { return getSchedule(3, schedule); }
int32_t ORVL_CALL ORVL_SetSchedule3(const ScheduleRecord *schedule) { return setSchedule(2, schedule); }
int32_t ORVL_CALL ORVL_SetSchedule4(const ScheduleRecord *schedule) { return setSchedule(3, schedule); }
