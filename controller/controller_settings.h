#pragma once
// The host controller's settings record and how it is read from and written
// to its INI file.
#include "broker_security.h"
#include "command_message.h"

#include <QString>
#include <QtGlobal>

// A slot's seven values are the ones a slot command carries; only the
// defaults of a first start are the controller's own.
struct SlotSettings : SlotValues {
    SlotSettings()
    {
        activeDay = 127;
        pwrOnEnable = true;
        pwrOnHour = 9;
        pwrOnMinute = 0;
        pwrOffEnable = true;
        pwrOffHour = 21;
        pwrOffMinute = 0;
    }
};

// The broker address is a numeric literal because it is never resolved; the
// default stays on this machine so an unconfigured controller reaches no one.
constexpr const char *defaultBrokerHost = "127.0.0.1";
constexpr quint16 defaultBrokerPort = 1883;
constexpr const char *defaultTopicToken = "HALDEN";
constexpr const char *settingsFileName = "Brimlet.ini";

struct ControllerSettings {
    QString host = QString::fromLatin1(defaultBrokerHost);
    quint16 port = defaultBrokerPort;
    QString topicToken = QString::fromLatin1(defaultTopicToken);
    BrokerSecurity security; // read only: never written back
    SlotSettings timeSlot1;
    SlotSettings timeSlot2;
};

// Out-of-range times fall back to the defaults, and a power-off time is only
// in force together with a power-on time.
void applyRangeChecks(SlotSettings &slot);

// A missing or unreadable file gives every default.
ControllerSettings loadSettings(const char *path = settingsFileName);

// Writes only the two slot sections; every other line of the file survives.
// Returns false when the file could not be written.
bool saveSettings(const ControllerSettings &settings, const char *path = settingsFileName);
