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

// The command text with its digest's value masked, for a dry run's output.
QString maskedDigest(const QString &text, const QString &password)
{
    QString masked = text;
    const QString field = QStringLiteral("\"PWD\": \"");
    masked.replace(field + passwordDigest(password) + QLatin1Char('"'), field + QStringLiteral("********\""));
    return masked;
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
    keepSecretsOutOfCoreDumps();
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
    else if (security.caFileEmpty)
        return fail(Usage, "MqttCaFile in " + halden::printableText(configPath)
                               + " is empty: name the CA file (or give --mqtt-ca-file), or remove the key for plain TCP");
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
        switch (firstLineOfFile(o.passwordFile, password)) {
        case PasswordRead::Ok: break;
        case PasswordRead::TooLong:
            return fail(NoInput, "the first line of the password file " + halden::printableText(o.passwordFile)
                                     + " is longer than " + std::to_string(kMaxPasswordLength) + " bytes");
        default: return fail(NoInput, "cannot read the password file " + halden::printableText(o.passwordFile));
        }
        if (password.empty())
            return fail(NoInput, "the password file " + halden::printableText(o.passwordFile)
                                     + " holds no password (its first line is empty); nothing was sent");
        break;
    case PasswordSource::Stdin:
        switch (firstLineOf(stdin, password)) {
        case PasswordRead::Ok: break;
        case PasswordRead::TooLong:
            return fail(NoInput, "the password on standard input is longer than "
                                     + std::to_string(kMaxPasswordLength) + " bytes");
        default: return fail(NoInput, "cannot read the password from standard input");
        }
        if (password.empty())
            return fail(NoInput, "no password on standard input (its first line is empty); nothing was sent");
        break;
    case PasswordSource::Terminal:
        switch (askOnTerminal(password)) {
        case PasswordRead::Ok: break;
        case PasswordRead::Mismatch: return fail(Mismatch, "the two passwords differ; nothing was sent");
        case PasswordRead::NoAnswer: return fail(NoInput, "no password was given; nothing was sent");
        case PasswordRead::TooLong:
            return fail(NoInput, "the password is longer than " + std::to_string(kMaxPasswordLength) + " bytes");
        default: return fail(Usage, "no terminal to ask the password on: use --password-file or --password-stdin");
        }
        break;
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
        // The digest opens the board as well as the password does: shown
        // only when asked for by name.
        const QByteArray shown = o.showDigest ? payload : commandPayload(maskedDigest(text, typed));
        for (const QString &topic : topics)
            std::printf("%s\t%s\n", topic.toUtf8().constData(), shown.constData());
        return Sent;
    }
    for (const QString &line : brokerSecurityWarnings(security))
        std::fprintf(stderr, "brimlet-send: %s\n", line.toUtf8().constData());
    FleetPublisher publisher(address, settings.port, security);
    const int code = publisher.publish(topics, payload, o.timeoutSeconds);
    if (code != 0)
        return fail(BrokerFailed, "broker " + settings.host.toStdString() + ":" + std::to_string(settings.port) + " "
                                      + publisher.failure().toStdString());
    return Sent;
}
