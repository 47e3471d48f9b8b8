#pragma once
// The window and tray icon both reference programs show: the least a Qt
// widgets program with one window and one tray icon can be.
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QSystemTrayIcon>

struct ReferenceWindow {
    ReferenceWindow() : label(QStringLiteral("reference"), &window)
    {
        window.setCentralWidget(&label);
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::darkGreen);
        tray.setIcon(QIcon(pixmap));
        tray.setVisible(true);
    }
    QMainWindow window;
    QLabel label;
    QSystemTrayIcon tray;
};
