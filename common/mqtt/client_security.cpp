#include "client_security.h"

void applyBrokerSecurity(QMQTT::Client &client, const BrokerSecurity &security)
{
    client.setUsername(security.user);
    client.setPassword(security.password.toUtf8());
    client.setCaFile(security.caFile);
}
