#pragma once
// The EDID emulator's serial link: four nine-byte packets ask it to
// re-enumerate; whatever it sends back is thrown away.
#include "command_targets.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

class QIODevice;

// CRC-16/KERMIT (reflected 0x1021, initial 0, no final XOR).
quint16 crc16Kermit(const QByteArray &bytes);

// Packet `index` (0 to 3) of the re-enumeration sequence, CRC low byte first.
QByteArray edidPacket(int index);
QList<QByteArray> edidReenumerationPackets();

class EdidLink : public EdidSender {
public:
    // `port` may be null (no port configured); `open` is the outcome of the
    // one opening at start-up.
    EdidLink(QIODevice *port, bool open);

    bool edidPortOpen() const override { return open_; }
    // The port was closed after an error, or opened again.
    void setOpen(bool open) { open_ = open; }
    // Blocks the calling thread for about 200 ms (50 ms after each packet),
    // giving the device time between packets.
    void sendEdidReenumeration() override;

private:
    QIODevice *port_;
    bool open_;
};
