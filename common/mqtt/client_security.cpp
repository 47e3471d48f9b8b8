#include "client_security.h"

#include <QDebug>

void applyBrokerSecurityQuietly(QMQTT::Client &client, const BrokerSecurity &security)
{
    client.setUsername(security.user);
    client.setPassword(security.password.toUtf8());
    client.setCaFile(security.caFile);
}

void applyBrokerSecurity(QMQTT::Client &client, const BrokerSecurity &security)
{
    applyBrokerSecurityQuietly(client, security);
    for (const QString &line : brokerSecurityWarnings(security))
        qDebug().noquote() << line;
}
