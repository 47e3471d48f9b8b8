#include "broker_security.h"

#include "ini_store.h"

#include <cstring>

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
    // A default no file holds tells a key written empty from a missing one.
    const char *const absent = "\x01";
    security.caFileEmpty = std::strcmp(IniGetString("General", "MqttCaFile", absent), "") == 0;
    return security;
}

QStringList brokerSecurityWarnings(const BrokerSecurity &security)
{
    QStringList lines;
    if (security.caFileEmpty && security.caFile.isEmpty())
        lines << QStringLiteral("MqttCaFile is empty: the broker is reached over plain TCP, without TLS "
                                "(name the CA file, or remove the key)");
    if (!security.password.isEmpty() && security.caFile.isEmpty())
        lines << QStringLiteral("The broker password goes over plain TCP (no MqttCaFile): "
                                "anyone on the way to the broker can read it");
    return lines;
}
