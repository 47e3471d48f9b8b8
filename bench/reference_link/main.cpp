// The fair yardstick for the programs' idle cost: the minimal window and
// tray program of reference_tray/, plus what the programs must link and hold
// to do their job: Qt Network (a broker address) and libmosquitto (with its
// TLS libraries), with one broker connection kept alive the plain way, a
// socket notifier and libmosquitto's housekeeping once a second.
//
//   bench-reference-link PORT   connects to 127.0.0.1:PORT and subscribes
#include "reference_window.h"

#include <QApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <mosquitto.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ReferenceWindow reference;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        reference.window.show();

    const QHostAddress broker(QStringLiteral("127.0.0.1"));
    const int port = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1883;
    mosquitto_lib_init();
    mosquitto *link = mosquitto_new(nullptr, true, nullptr);
    mosquitto_connect_callback_set(link, [](mosquitto *m, void *, int) { mosquitto_subscribe(m, nullptr, "bench/reference", 1); });
    if (!link || mosquitto_connect(link, broker.toString().toLatin1().constData(), port, 10) != MOSQ_ERR_SUCCESS)
        return 1;
    QSocketNotifier readable(mosquitto_socket(link), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [link] {
        mosquitto_loop_read(link, 1);
        if (mosquitto_want_write(link))
            mosquitto_loop_write(link, 1);
    });
    QTimer housekeeping;
    QObject::connect(&housekeeping, &QTimer::timeout, [link] {
        mosquitto_loop_misc(link);
        if (mosquitto_want_write(link))
            mosquitto_loop_write(link, 1);
    });
    housekeeping.start(1000);
    // The CONNECT is queued; send it now.
    mosquitto_loop_write(link, 1);
    const int result = app.exec();
    mosquitto_destroy(link);
    mosquitto_lib_cleanup();
    return result;
}
