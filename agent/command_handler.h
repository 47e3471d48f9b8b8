#pragma once
// Acts on one received command text: checks the password digest, then writes
// a schedule (window first, controller second) or asks for EDID re-enumeration.
#include "command_targets.h"

#include <QByteArray>
#include <QString>

class CommandReader;

class CommandHandler {
public:
    CommandHandler(const QString &pwd, ScheduleStore &store, ScheduleDisplay &display, EdidSender &edid);

    // A message as the broker delivered it: a retained one, or one larger
    // than any command, is left alone with a diagnostic line; the rest is
    // handled.
    void receive(const QByteArray &payload, const QString &topic, bool retained);
    void handle(const QByteArray &payload, const QString &topic);

    // A command is a few hundred bytes; anything this large is not one.
    static constexpr int kMaxCommandSize = 64 * 1024;

    // The record a schedule command asks for; bytes the text lacks are 0.
    static ScheduleRecord scheduleFromCommand(const CommandReader &command);

private:
    void applySchedule(int slot, const CommandReader &command);

    QString expectedDigest_;
    bool hasPassword_;
    ScheduleStore &store_;
    ScheduleDisplay &display_;
    EdidSender &edid_;
};
