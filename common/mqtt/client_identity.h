#pragma once
// The broker client identifier of a program's own link. A random one per run
// leaves the broker one more persistent session (with its QoS 1
// subscription and queue) at every restart, kept for ever. This one stays the
// same for every run of one program on one machine in one settings folder,
// so the broker keeps one session for it; it differs between machines,
// programs and folders, and between runs that are alive at the same time.
#include "qmqtt_client.h"

#include <QByteArray>
#include <QString>

// program (letters) and hex digits of SHA-256 over the other parts, 23
// characters in all: the most MQTT 3.1 allows, only letters and digits.
// instance tells apart runs alive at once (0 for the first).
QString stableClientId(const QByteArray &machineId, const QString &program, const QString &settingsFolder,
                       int instance);

// For this process: the machine's id, its working folder (where the settings
// file is read) and the first instance slot no live run of the same program
// holds, taken for the rest of the run. Empty when no slot could be taken;
// the link then keeps its random identifier.
QString programClientId(const QString &program);

// Sets programClientId(program) on the client when there is one.
void applyProgramClientId(QMQTT::Client &client, const QString &program);
