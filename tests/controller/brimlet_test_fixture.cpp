#include "brimlet_test_fixture.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

void BrimletFolderTest::SetUp()
{
    previousFolder_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir_.path())));
}

void BrimletFolderTest::TearDown()
{
    QDir::setCurrent(previousFolder_);
}

std::string BrimletFolderTest::settingsText() const
{
    return halden::test::readFile(settingsPath());
}

void BrimletFolderTest::writeSettings(const std::string &text) const
{
    halden::test::writeFile(settingsPath(), text);
}

qint64 spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return clock.elapsed();
}

PasswordAnswer::PasswordAnswer(const QString &first, const QString &second)
    : first_(first), second_(second)
{
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &PasswordAnswer::poll);
    timer->start(10);
}

void PasswordAnswer::dialogFinished()
{
    sinceOpen_.invalidate();
}

void PasswordAnswer::poll()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog) {
        sinceOpen_.invalidate();
        return;
    }
    if (!sinceOpen_.isValid()) {
        sinceOpen_.start();
        // The same dialog object comes back for the next command; its end
        // marks the next appearance as a new one.
        connect(dialog, &QDialog::finished, this, &PasswordAnswer::dialogFinished, Qt::UniqueConnection);
        auto *lePwd = dialog->findChild<QLineEdit *>("lePwd");
        auto *lePwd2 = dialog->findChild<QLineEdit *>("lePwd2");
        auto *confirm = dialog->findChild<QPushButton *>("btnConfirmed");
        if (!lePwd || !lePwd2 || !confirm)
            return;
        fieldsWereEmpty_ = fieldsWereEmpty_ && lePwd->text().isEmpty() && lePwd2->text().isEmpty();
        // insert() rather than key clicks: it carries any character, and
        // still emits textChanged like typing does.
        lePwd->insert(first_);
        lePwd2->insert(second_);
        QTest::mouseClick(confirm, Qt::LeftButton);
        ++answered_;
        return;
    }
    if (sinceOpen_.elapsed() > 5000) {
        rescued_ = true;
        dialog->done(QDialog::Rejected);
    }
}
