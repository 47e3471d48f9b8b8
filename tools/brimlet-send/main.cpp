// brimlet-send: Brimlet's three buttons from the shell, for scripts and fleets.
#include "command_message.h"
#include "controller_settings.h"
#include "fleet_publisher.h"
#include "password_input.h"
#include "printable_text.h"
#include "send_options.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <cstdio>
#include <string>
#include <vector>

using namespace brimletsend;

namespace {

enum Exit { Sent = 0, Mismatch = 1, BrokerFailed = 2, Usage = 64, NoInput = 66 };

int fail(int code, const std::string &message)
{
    std::fprintf(stderr, "brimlet-send: %s\n", message.c_str());
    return code;
}

void applyEdit(const halden::ScheduleEdit &e, SlotSettings &slot)
{
    if (e.days)
        slot.activeDay = *e.days;
    if (e.onEnabled)
        slot.pwrOnEnable = *e.onEnabled;
    if (e.onHour) {
        slot.pwrOnHour = *e.onHour;
        slot.pwrOnMinute = *e.onMinute;
    }
    if (e.offEnabled)
        slot.pwrOffEnable = *e.offEnabled;
    if (e.offHour) {
        slot.pwrOffHour = *e.offHour;
        slot.pwrOffMinute = *e.offMinute;
    }
    // As Brimlet sends it: a power-off time only together with a power-on time.
    applyRangeChecks(slot);
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    SendOptions o;
    std::string error;
    if (!parseSendOptions(args, o, error))
        return fail(Usage, halden::printableText(error));
    if (o.command == Command::Help) {
        std::fputs(usageText(), stdout);
        return Sent;
    }
    QCoreApplication app(argc, argv);

    // The settings file: named, or ./Brimlet.ini when there is one.
    const std::string configPath = o.config.value_or(settingsFileName);
    const QFileInfo config(QString::fromLocal8Bit(configPath.c_str()));
    ControllerSettings settings;
    if (o.config || config.exists()) {
        if (!config.isFile() || !config.isReadable())
            return fail(NoInput, "cannot read the settings file " + halden::printableText(configPath));
        settings = loadSettings(configPath.c_str());
    }
    if (o.host)
        settings.host = QString::fromStdString(*o.host);
    if (o.port)
        settings.port = static_cast<quint16>(*o.port);
    QStringList topics;
    for (const std::string &t : o.topics)
        topics << QString::fromStdString(t);
    if (topics.isEmpty())
        topics << settings.topicToken;
    BrokerSecurity security = settings.security;
    if (o.mqttUser)
        security.user = QString::fromStdString(*o.mqttUser);
    if (o.mqttCaFile)
        security.caFile = QString::fromStdString(*o.mqttCaFile);
    if (o.mqttPasswordFile) {
        std::string secret;
        if (firstLineOfFile(*o.mqttPasswordFile, secret) != PasswordRead::Ok)
            return fail(NoInput, "cannot read the broker password file " + halden::printableText(*o.mqttPasswordFile));
        security.password = QString::fromStdString(secret);
    }
    const QHostAddress address(settings.host);
    if (address.isNull())
        return fail(Usage, "host '" + halden::printableText(settings.host.toStdString()) + "' is not a numeric address");

    std::string password;
    switch (o.passwordSource) {
    case PasswordSource::File:
        if (firstLineOfFile(o.passwordFile, password) != PasswordRead::Ok)
            return fail(NoInput, "cannot read the password file " + halden::printableText(o.passwordFile));
        break;
    case PasswordSource::Stdin:
        if (firstLineOf(stdin, password) != PasswordRead::Ok)
            return fail(NoInput, "cannot read the password from standard input");
        break;
    case PasswordSource::Terminal: {
        const PasswordRead read = askOnTerminal(password);
        if (read == PasswordRead::NoTerminal)
            return fail(Usage, "no terminal to ask the password on: use --password-file or --password-stdin");
        if (read == PasswordRead::Mismatch)
            return fail(Mismatch, "the two passwords differ; nothing was sent");
        break;
    }
    }

    const QString typed = QString::fromUtf8(password.data(), static_cast<int>(password.size()));
    QString text;
    if (o.command == Command::Edid) {
        text = composeEdidCommand(typed);
    } else {
        SlotSettings slot = o.command == Command::Slot1 ? settings.timeSlot1 : settings.timeSlot2;
        applyEdit(o.edit, slot);
        text = composeSlotCommand(QString::fromLatin1(o.command == Command::Slot1 ? "SLOT1" : "SLOT2"), slot, typed);
    }
    const QByteArray payload = commandPayload(text);

    if (o.dryRun) {
        for (const QString &topic : topics)
            std::printf("%s\t%s\n", topic.toUtf8().constData(), payload.constData());
        return Sent;
    }
    FleetPublisher publisher(address, settings.port, security);
    const int code = publisher.publish(topics, payload, o.timeoutSeconds);
    if (code != 0)
        return fail(BrokerFailed, "broker " + settings.host.toStdString() + ":" + std::to_string(settings.port) + " "
                                      + publisher.failure().toStdString());
    return Sent;
}
