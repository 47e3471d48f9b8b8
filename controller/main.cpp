#include <QApplication>

#include "mainform.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainForm window;
    window.show();
    return application.exec();
}
