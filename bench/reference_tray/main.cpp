// The yardstick for the programs' idle cost and start-up: the least a Qt
// widgets program with one window and one tray icon can be. With
// --exit-when-ready it ends once its window is painted (or at once when the
// tray hides the window), as far as the programs get before they serve.
#include "reference_window.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace {

class QuitWhenPainted : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    ReferenceWindow reference;
    QuitWhenPainted quitter(&app);
    const bool exitWhenReady = app.arguments().contains(QStringLiteral("--exit-when-ready"));
    // As the programs do: without a tray the window is the way in.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (exitWhenReady)
            reference.label.installEventFilter(&quitter);
        reference.window.show();
    } else if (exitWhenReady) {
        QTimer::singleShot(0, &app, &QCoreApplication::quit);
    }
    return app.exec();
}
