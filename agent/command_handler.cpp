#include "command_handler.h"

#include "command_message.h"

#include <QDebug>

CommandHandler::CommandHandler(const QString &pwd, ScheduleStore &store, ScheduleDisplay &display,
                               EdidSender &edid)
    : expectedDigest_(passwordDigest(pwd)), hasPassword_(!pwd.isEmpty()), store_(store), display_(display), edid_(edid)
{
}

void CommandHandler::receive(const QByteArray &payload, const QString &topic, bool retained)
{
    // Anyone may leave a retained message on the topic; run, it would repeat
    // at every start and every reconnect. Brimlet never retains.
    if (retained) {
        qDebug().noquote() << "Ignored a retained message on" << topic;
        return;
    }
    // Not worth the memory its parse takes.
    if (payload.size() > kMaxCommandSize) {
        qDebug().noquote().nospace() << "Ignored a message of " << payload.size() << " bytes (larger than "
                                     << kMaxCommandSize << ")";
        return;
    }
    handle(payload, topic);
}

void CommandHandler::handle(const QByteArray &payload, const QString &topic)
{
    const CommandReader command(payload);
    if (!command.parsed())
        return;

    // Two lines, handed over as one message: one write to the diagnostic
    // output instead of two, for every message a flood brings.
    qDebug().noquote().nospace() << "slot_mtsBranchReceived::payload.size = " << payload.size()
                                 << "\nslot_mtsBranchReceived::topic = " << topic;

    // Without a password anyone could send the digest of the empty text.
    if (!hasPassword_) {
        qDebug().noquote() << "Refused a command: no password is set (Pwd in tamsel.ini)";
        return;
    }
    const QString name = command.text(QStringLiteral("CMD"));
    if (command.text(QStringLiteral("PWD")) != expectedDigest_)
        return;

    if (name == QLatin1String("SLOT1"))
        applySchedule(1, command);
    else if (name == QLatin1String("SLOT2"))
        applySchedule(2, command);
    else if (name == QLatin1String("EDID") && edid_.edidPortOpen())
        edid_.sendEdidReenumeration();
}

ScheduleRecord CommandHandler::scheduleFromCommand(const CommandReader &command)
{
    ScheduleRecord record {};
    if (command.number(QStringLiteral("PWRON_ENABLE")) != 0)
        record.enableFlags |= 0x01;
    if (command.number(QStringLiteral("PWROFF_ENABLE")) != 0)
        record.enableFlags |= 0x02;
    record.activeDays = static_cast<uint8_t>(command.number(QStringLiteral("ACTIVE_DAY")) & 0x7F);
    // No range checks: the controller receives the low eight bits as sent.
    record.onHour = static_cast<uint8_t>(command.number(QStringLiteral("PWRON_HOUR")) & 0xFF);
    record.onMinute = static_cast<uint8_t>(command.number(QStringLiteral("PWRON_MINUTE")) & 0xFF);
    record.offHour = static_cast<uint8_t>(command.number(QStringLiteral("PWROFF_HOUR")) & 0xFF);
    record.offMinute = static_cast<uint8_t>(command.number(QStringLiteral("PWROFF_MINUTE")) & 0xFF);
    return record;
}

void CommandHandler::applySchedule(int slot, const CommandReader &command)
{
    if (!store_.canWriteSchedule(slot))
        return;
    const ScheduleRecord record = scheduleFromCommand(command);
    // The window shows what was asked for, before the (slow) controller write.
    display_.showSchedule(slot, record);
    const ScheduleRecord copy = record;
    if (store_.writeSchedule(slot, copy))
        return;
    // The window must not show as written what the controller does not hold,
    // nor, when the controller cannot even be read (the board went away in
    // the middle of the write), a record it never read.
    ScheduleRecord held {};
    if (store_.readSchedule(slot, held)) {
        qDebug().noquote() << "Writing time slot" << slot << "to the controller failed; showing what it holds";
        display_.showSchedule(slot, held);
        return;
    }
    qDebug().noquote() << "Writing time slot" << slot
                       << "to the controller failed and it cannot be read; the slot is shown as unknown";
    display_.showUnknown(slot);
}
