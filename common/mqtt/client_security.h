#pragma once
// Hands a settings file's broker log-in and TLS settings to a client.
#include "broker_security.h"
#include "qmqtt_client.h"

// A program's link also says, once, what weakens it (brokerSecurityWarnings).
void applyBrokerSecurity(QMQTT::Client &client, const BrokerSecurity &security);

// The same without a word, for a caller that says it its own way.
void applyBrokerSecurityQuietly(QMQTT::Client &client, const BrokerSecurity &security);
