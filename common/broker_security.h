#pragma once
// Optional broker log-in and TLS, from section "General" of a program's
// settings file: "MqttUser", "MqttPassword", "MqttCaFile". A file without
// them connects as before: no log-in, plain TCP.
#include <QString>

struct BrokerSecurity {
    QString user;
    QString password; // a secret: never written to a log or a diagnostic line
    QString caFile;   // relative paths are taken from the working folder
};

// From the settings document currently loaded in the INI store.
BrokerSecurity readBrokerSecurity();
