#include "broker_security.h"

#include "ini_store.h"

namespace {

QString generalText(const char *key)
{
    return QString::fromUtf8(IniGetString("General", key, ""));
}

} // namespace

BrokerSecurity readBrokerSecurity()
{
    BrokerSecurity security;
    security.user = generalText("MqttUser");
    security.password = generalText("MqttPassword");
    security.caFile = generalText("MqttCaFile");
    return security;
}
