#include <QApplication>
#include <QGuiApplication>

#include "mainform.h"
#include "platform/stop_signals.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainForm window;
    // A kill, a closed terminal or the desktop session ending ends Brimlet
    // as "Quit" does: the event loop returns and the window's destructor
    // saves the slots. Every window goes, an open password dialog too.
    const auto quit = [] {
        QApplication::closeAllWindows();
        QApplication::quit();
    };
    StopSignals stopSignals(quit);
    QObject::connect(&application, &QGuiApplication::commitDataRequest, quit);
    window.show();
    return application.exec();
}
