#include "agent_settings.h"

#include "ini_store.h"

namespace {

QString iniText(const char *key, const char *defaultValue)
{
    return QString::fromUtf8(IniGetString("General", key, defaultValue));
}

} // namespace

AgentSettings readAgentSettings()
{
    AgentSettings settings;
    settings.host = iniText("Host", "127.0.0.1");
    // Only the low 16 bits make a port: 70000 becomes 4464.
    settings.port = static_cast<quint16>(static_cast<unsigned>(IniGetInt("General", "Port", 1883)) & 0xFFFFu);
    settings.topicToken = iniText("TopicToken", "HALDEN");
    settings.pwd = iniText("Pwd", "");
    settings.edidSerialPort = iniText("EdidSerialPort", "");
    settings.security = readBrokerSecurity();
    return settings;
}
