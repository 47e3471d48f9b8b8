// The command reader on raw payload bytes, as Tamsel gets them from the
// broker, against a reference written here from the command text's reading
// rules: a strict JSON reading of the payload (RFC 8259, UTF-8), the
// top-level object, text fields as strings or "", number fields as whole
// 32-bit numbers or 0, a name given twice refused. Both must accept and
// refuse the same payloads and read the same values for every field; and a
// SLOT command composed again from the fields read must read back the same.
#include "command_message.h"
#include "reference_command.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace {

using halden::fuzz::ReferenceReader;

const char *const kTextKeys[] = {"CMD", "PWD"};
const char *const kNumberKeys[] = {"ACTIVE_DAY", "PWRON_ENABLE", "PWRON_HOUR", "PWRON_MINUTE",
                                   "PWROFF_ENABLE", "PWROFF_HOUR", "PWROFF_MINUTE"};

// --- the round trip -----------------------------------------------------------

bool within(qint32 value, qint32 low, qint32 high) { return value >= low && value <= high; }

// The fields of a SLOT command, when every one fits what a composer can send.
bool readSlot(const CommandReader &reader, QString &command, SlotValues &slot)
{
    command = reader.text(QStringLiteral("CMD"));
    if (command != QLatin1String("SLOT1") && command != QLatin1String("SLOT2"))
        return false;
    const qint32 day = reader.number(QStringLiteral("ACTIVE_DAY"));
    const qint32 onEnable = reader.number(QStringLiteral("PWRON_ENABLE"));
    const qint32 offEnable = reader.number(QStringLiteral("PWROFF_ENABLE"));
    const qint32 hours[] = {reader.number(QStringLiteral("PWRON_HOUR")), reader.number(QStringLiteral("PWRON_MINUTE")),
                            reader.number(QStringLiteral("PWROFF_HOUR")), reader.number(QStringLiteral("PWROFF_MINUTE"))};
    if (!within(day, 0, 0xFFFF) || !within(onEnable, 0, 1) || !within(offEnable, 0, 1))
        return false;
    for (qint32 h : hours)
        if (!within(h, 0, 0xFF))
            return false;
    slot.activeDay = quint16(day);
    slot.pwrOnEnable = onEnable != 0;
    slot.pwrOffEnable = offEnable != 0;
    slot.pwrOnHour = quint8(hours[0]);
    slot.pwrOnMinute = quint8(hours[1]);
    slot.pwrOffHour = quint8(hours[2]);
    slot.pwrOffMinute = quint8(hours[3]);
    return true;
}

bool sameSlot(const SlotValues &a, const SlotValues &b)
{
    return a.activeDay == b.activeDay && a.pwrOnEnable == b.pwrOnEnable && a.pwrOnHour == b.pwrOnHour
           && a.pwrOnMinute == b.pwrOnMinute && a.pwrOffEnable == b.pwrOffEnable && a.pwrOffHour == b.pwrOffHour
           && a.pwrOffMinute == b.pwrOffMinute;
}

[[noreturn]] void mismatch(const char *what, const char *key)
{
    std::fprintf(stderr, "the reader and the reference differ: %s %s\n", what, key);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray payload(reinterpret_cast<const char *>(data), int(size));
    const CommandReader reader(payload);
    const ReferenceReader reference(data, size);
    if (reader.parsed() != reference.parsed)
        mismatch(reference.parsed ? "the reader refused what the reference reads" : "the reader took what the reference refuses", "");
    for (const char *key : kTextKeys)
        if (reader.text(QLatin1String(key)).toStdString() != reference.text(key))
            mismatch("the text of", key);
    for (const char *key : kNumberKeys)
        if (reader.number(QLatin1String(key)) != reference.number(key))
            mismatch("the number of", key);
    // A key taken from the input itself, so odd keys are looked up too.
    (void)reader.text(QString::fromUtf8(payload.left(16)));
    (void)reader.number(QString::fromUtf8(payload.right(16)));

    QString command;
    SlotValues slot;
    if (!reader.parsed() || !readSlot(reader, command, slot))
        return 0;
    const QString password = reader.text(QStringLiteral("PWD"));
    const CommandReader again(composeSlotCommand(command, slot, password).toUtf8());
    QString commandAgain;
    SlotValues slotAgain;
    if (!again.parsed() || !readSlot(again, commandAgain, slotAgain) || commandAgain != command
        || !sameSlot(slot, slotAgain) || again.text(QStringLiteral("PWD")) != passwordDigest(password))
        std::abort();
    return 0;
}
