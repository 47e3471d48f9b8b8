#pragma once
// Collects the Qt debug output of a scope, one string per line (a message
// of two lines gives two).
#include <QStringList>
#include <QtGlobal>

class DebugCapture {
public:
    DebugCapture() : previous_(qInstallMessageHandler(&DebugCapture::handler)) { active() = this; }
    ~DebugCapture()
    {
        qInstallMessageHandler(previous_);
        active() = nullptr;
    }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    QStringList lines;

private:
    static DebugCapture *&active()
    {
        static DebugCapture *current = nullptr;
        return current;
    }
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        // One message may hold several lines; the output shows them as such.
        if (type == QtDebugMsg && active())
            active()->lines << text.split(QLatin1Char('\n'));
    }
    QtMessageHandler previous_;
};
