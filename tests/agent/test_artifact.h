#pragma once
// Screenshots the tests keep for a person to look at, in <build>/test-artifacts.
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdio>

// Shows the window, saves what it draws under `name` and prints the path.
// Returns false when the picture could not be written.
inline bool saveWindowScreenshot(QWidget &window, const QString &name)
{
    window.show();
    const QPixmap shot = window.grab();
    const QString dir = QStringLiteral(HALDEN_BIN_DIR "/../test-artifacts");
    if (!QDir().mkpath(dir))
        return false;
    const QString path = QDir(dir).absoluteFilePath(name);
    if (!shot.save(path))
        return false;
    std::printf("status window screenshot: %s\n", QFileInfo(path).canonicalFilePath().toUtf8().constData());
    return true;
}
