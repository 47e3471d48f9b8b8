#include "edid_link.h"

#include "pty.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

TEST(TamselCrc16Kermit, CheckValue)
{
    EXPECT_EQ(crc16Kermit("123456789"), 0x2189);
    EXPECT_EQ(crc16Kermit(QByteArray()), 0x0000);
}

TEST(TamselEdidPackets, ByteForByte)
{
    const QList<QByteArray> expected = {hex("FFEE00000002669400"), hex("FFEE00001002F70100"),
                                        hex("FFEE0000200255B700"), hex("FFEE00003002C42200")};
    const QList<QByteArray> packets = edidReenumerationPackets();
    ASSERT_EQ(packets.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(packets[i].size(), 9);
        EXPECT_EQ(packets[i].toHex().toStdString(), expected[i].toHex().toStdString()) << "packet " << i;
    }
}

TEST(TamselEdidLink, WritesTheFourPacketsInOrderEachTime)
{
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    EdidLink link(&sink, true);
    QElapsedTimer clock;
    clock.start();
    link.sendEdidReenumeration();
    std::printf("one re-enumeration sequence took %lld ms\n", static_cast<long long>(clock.elapsed()));
    link.sendEdidReenumeration();

    QByteArray once;
    for (const QByteArray &packet : edidReenumerationPackets())
        once += packet;
    ASSERT_EQ(once.size(), 36);
    EXPECT_EQ(sink.data(), once + once);
}

TEST(TamselEdidLink, WithoutPortWritesNothing)
{
    EdidLink none(nullptr, false);
    EXPECT_FALSE(none.edidPortOpen());
    none.sendEdidReenumeration(); // must not touch a missing port

    QBuffer closed;
    EdidLink link(&closed, false);
    link.sendEdidReenumeration();
    EXPECT_TRUE(closed.data().isEmpty());
}

// The real serial class on a pseudo-terminal, set up as the agent sets it up.
TEST(TamselEdidLink, SerialPortOnPseudoTerminal)
{
    int argc = 1;
    char name[] = "edid_link_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    halden::test::Pty pty;
    ASSERT_TRUE(pty.ok());
    QSerialPort port;
    port.setPortName(QString::fromStdString(pty.slavePath()));
    port.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();

    EdidLink link(&port, true);
    link.sendEdidReenumeration();
    QCoreApplication::processEvents();

    QByteArray once;
    for (const QByteArray &packet : edidReenumerationPackets())
        once += packet;
    const std::string got = pty.read(36, 3000);
    EXPECT_EQ(QByteArray::fromStdString(got).toHex().toStdString(), once.toHex().toStdString());
    EXPECT_EQ(pty.drain(200), "");
}

} // namespace
