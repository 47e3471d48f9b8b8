#pragma once
// Optional broker log-in and TLS, from section "General" of a program's
// settings file: "MqttUser", "MqttPassword", "MqttCaFile". A file without
// them connects as before: no log-in, plain TCP.
#include <QString>

#include <QStringList>

struct BrokerSecurity {
    QString user;
    QString password; // a secret: never written to a log or a diagnostic line
    QString caFile;   // relative paths are taken from the working folder
    // "MqttCaFile=" written with no value: TLS was meant, plain TCP is what
    // an empty value gives, so it is said rather than taken silently.
    bool caFileEmpty = false;
};

// From the settings document currently loaded in the INI store.
BrokerSecurity readBrokerSecurity();

// What weakens the connection without a word otherwise, as diagnostic lines
// (never the password): an empty MqttCaFile, a broker password that goes
// without TLS. Empty when there is nothing to say.
QStringList brokerSecurityWarnings(const BrokerSecurity &security);
