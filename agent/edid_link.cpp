#include "edid_link.h"

#include <QIODevice>
#include <QSerialPort>
#include <QThread>

quint16 crc16Kermit(const QByteArray &bytes)
{
    quint16 crc = 0;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0x8408) : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

QByteArray edidPacket(int index)
{
    QByteArray packet(9, '\0');
    packet[0] = static_cast<char>(0xFF);
    packet[1] = static_cast<char>(0xEE);
    packet[4] = static_cast<char>((index & 0x0F) << 4);
    packet[5] = 0x02;
    const quint16 crc = crc16Kermit(packet.left(6));
    packet[6] = static_cast<char>(crc & 0xFF);
    packet[7] = static_cast<char>(crc >> 8);
    return packet;
}

QList<QByteArray> edidReenumerationPackets()
{
    QList<QByteArray> packets;
    for (int index = 0; index < 4; ++index)
        packets << edidPacket(index);
    return packets;
}

EdidLink::EdidLink(QIODevice *port, bool open) : port_(port), open_(open) {}

void EdidLink::sendEdidReenumeration()
{
    for (const QByteArray &packet : edidReenumerationPackets()) {
        if (port_ && port_->isOpen()) {
            port_->write(packet);
            // Hand the packet to the driver now, so the pause below separates
            // the packets on the line instead of only in the write buffer.
            if (auto *serial = qobject_cast<QSerialPort *>(port_))
                serial->flush();
        }
        QThread::msleep(50);
    }
}
