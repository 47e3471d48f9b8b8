#include "controller_settings.h"

#include "ini_store.h"

namespace {

const char *const slotSections[] = {"Slot1", "Slot2"};

SlotSettings readSlot(const char *section)
{
    const SlotSettings defaults;
    SlotSettings slot;
    slot.activeDay = static_cast<quint16>(IniGetInt(section, "ActiveDay", defaults.activeDay));
    slot.pwrOnEnable = IniGetBool(section, "PwrOnEnable", defaults.pwrOnEnable);
    slot.pwrOnHour = static_cast<quint8>(IniGetInt(section, "PwrOnHour", defaults.pwrOnHour));
    slot.pwrOnMinute = static_cast<quint8>(IniGetInt(section, "PwrOnMinute", defaults.pwrOnMinute));
    slot.pwrOffEnable = IniGetBool(section, "PwrOffEnable", defaults.pwrOffEnable);
    slot.pwrOffHour = static_cast<quint8>(IniGetInt(section, "PwrOffHour", defaults.pwrOffHour));
    slot.pwrOffMinute = static_cast<quint8>(IniGetInt(section, "PwrOffMinute", defaults.pwrOffMinute));
    applyRangeChecks(slot);
    return slot;
}

void writeSlot(const char *section, const SlotSettings &slot)
{
    IniSetInt(section, "ActiveDay", slot.activeDay);
    IniSetBool(section, "PwrOnEnable", slot.pwrOnEnable);
    IniSetInt(section, "PwrOnHour", slot.pwrOnHour);
    IniSetInt(section, "PwrOnMinute", slot.pwrOnMinute);
    IniSetBool(section, "PwrOffEnable", slot.pwrOffEnable);
    IniSetInt(section, "PwrOffHour", slot.pwrOffHour);
    IniSetInt(section, "PwrOffMinute", slot.pwrOffMinute);
}

} // namespace

void applyRangeChecks(SlotSettings &slot)
{
    const SlotSettings defaults;
    if (slot.pwrOnHour >= 24)
        slot.pwrOnHour = defaults.pwrOnHour;
    if (slot.pwrOnMinute >= 60)
        slot.pwrOnMinute = defaults.pwrOnMinute;
    if (slot.pwrOffHour >= 24)
        slot.pwrOffHour = defaults.pwrOffHour;
    if (slot.pwrOffMinute >= 60)
        slot.pwrOffMinute = defaults.pwrOffMinute;
    if (!slot.pwrOnEnable)
        slot.pwrOffEnable = false;
}

ControllerSettings loadSettings(const char *path)
{
    ControllerSettings settings;
    IniLoad(path);
    settings.host = QString::fromUtf8(IniGetString("General", "Host", defaultBrokerHost));
    settings.port = static_cast<quint16>(IniGetInt("General", "Port", defaultBrokerPort));
    settings.topicToken = QString::fromUtf8(IniGetString("General", "TopicToken", defaultTopicToken));
    settings.security = readBrokerSecurity();
    settings.timeSlot1 = readSlot(slotSections[0]);
    settings.timeSlot2 = readSlot(slotSections[1]);
    IniClose();
    return settings;
}

bool saveSettings(const ControllerSettings &settings, const char *path)
{
    // Loading first keeps the hand-edited "General" section and comments.
    IniLoad(path);
    writeSlot(slotSections[0], settings.timeSlot1);
    writeSlot(slotSections[1], settings.timeSlot2);
    const bool saved = IniSave(path);
    IniClose();
    return saved;
}
