#pragma once
// The agent's settings, section "General" of "tamsel.ini".
#include "broker_security.h"

#include <QString>
#include <QtGlobal>

struct AgentSettings {
    QString host;
    quint16 port = 1883;
    QString topicToken;
    QString pwd;
    QString edidSerialPort;
    BrokerSecurity security;
};

// Reads every key from the loaded settings document, each with its default.
// The default broker is this machine, never an address on some network.
AgentSettings readAgentSettings();
