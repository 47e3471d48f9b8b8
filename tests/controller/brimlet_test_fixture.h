#pragma once
// Shared pieces of the Brimlet window tests: a working folder of its own
// (the settings file is looked up relative to it), finding the window's
// widgets, spinning the event loop with a bound, and answering the modal
// password dialog.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "temp_dir.h"

class BrimletFolderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string settingsPath() const { return dir_.file("Brimlet.ini"); }
    const std::string &folder() const { return dir_.path(); }
    std::string settingsText() const;
    void writeSettings(const std::string &text) const;

private:
    halden::test::TempDir dir_{"brimlet"};
    QString previousFolder_;
};

template <typename T>
T *widget(QObject *root, const char *name)
{
    T *found = root->findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Processes events until done() holds or timeoutMs passes; the time taken
// in milliseconds, or -1 on time-out.
qint64 spinUntil(const std::function<bool()> &done, int timeoutMs);

// Watches for the next modal dialog and answers it: types `first` and
// `second` into the two password fields and clicks "Confirmed". A dialog
// that will not close is ended after a while so that a test fails instead
// of hanging.
class PasswordAnswer : public QObject {
public:
    PasswordAnswer(const QString &first, const QString &second);
    explicit PasswordAnswer(const QString &password) : PasswordAnswer(password, password) {}

    int answered() const { return answered_; }
    bool fieldsWereEmpty() const { return fieldsWereEmpty_; }
    bool rescued() const { return rescued_; }

private:
    void poll();
    void dialogFinished();

    QString first_;
    QString second_;
    int answered_ = 0;
    bool fieldsWereEmpty_ = true;
    bool rescued_ = false;
    QElapsedTimer sinceOpen_;
};
