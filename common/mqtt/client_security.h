#pragma once
// Hands a settings file's broker log-in and TLS settings to a client.
#include "broker_security.h"
#include "qmqtt_client.h"

void applyBrokerSecurity(QMQTT::Client &client, const BrokerSecurity &security);
