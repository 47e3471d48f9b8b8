#include "client_identity.h"

#include "platform/instance_slot.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSysInfo>

namespace {

const int kMaxIdLength = 23;

QByteArray machineId()
{
#ifdef Q_OS_LINUX
    // systemd's id first: a cloned board gets a new one there, while an old
    // D-Bus copy of it (which Qt reads first) may be a file of its own that
    // the clone kept.
    QFile systemd(QStringLiteral("/etc/machine-id"));
    if (systemd.open(QIODevice::ReadOnly)) {
        const QByteArray id = systemd.readLine(64).trimmed();
        if (!id.isEmpty())
            return id;
    }
#endif
    // D-Bus's machine id, the MachineGuid on Windows; else the host name.
    const QByteArray id = QSysInfo::machineUniqueId();
    return id.isEmpty() ? QSysInfo::machineHostName().toUtf8() : id;
}

QByteArray digestOf(const QByteArray &machine, const QString &program, const QString &folder)
{
    return QCryptographicHash::hash(machine + '\n' + program.toUtf8() + '\n' + folder.toUtf8(),
                                    QCryptographicHash::Sha256);
}

} // namespace

QString stableClientId(const QByteArray &machine, const QString &program, const QString &settingsFolder,
                       int instance)
{
    QString prefix;
    for (const QChar c : program)
        if (c.isLetter() && c.unicode() < 128 && prefix.size() < 8)
            prefix += c.toLower();
    const QByteArray digest = QCryptographicHash::hash(digestOf(machine, program, settingsFolder)
                                                           + QByteArray::number(instance),
                                                       QCryptographicHash::Sha256);
    return prefix + QString::fromLatin1(digest.toHex()).left(kMaxIdLength - prefix.size());
}

QString programClientId(const QString &program)
{
    const QDir here = QDir::current();
    const QString folder = here.canonicalPath().isEmpty() ? here.absolutePath() : here.canonicalPath();
    const QByteArray machine = machineId();
    // Runs at once in one folder on one machine are told apart by the slot
    // each holds; the key names them without telling anyone the folder.
    const QByteArray key = digestOf(machine, program, folder).toHex().left(16);
    const int instance = takeInstanceSlot(program.toLower().toStdString() + "-" + key.toStdString());
    return instance < 0 ? QString() : stableClientId(machine, program, folder, instance);
}

void applyProgramClientId(QMQTT::Client &client, const QString &program)
{
    const QString id = programClientId(program);
    if (!id.isEmpty())
        client.setClientId(id);
}
