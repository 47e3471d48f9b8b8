#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QStringList>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>

#include "pwddialog.h"

namespace {

struct DialogParts {
    QLineEdit *lePwd;
    QLineEdit *lePwd2;
    QLabel *hint;
    QPushButton *confirm;
};

DialogParts partsOf(pwddialog &dialog)
{
    return {dialog.findChild<QLineEdit *>("lePwd"), dialog.findChild<QLineEdit *>("lePwd2"),
            dialog.findChild<QLabel *>("labPwdHint"), dialog.findChild<QPushButton *>("btnConfirmed")};
}

// Runs exec() while `whileOpen` drives the open dialog. A stuck dialog is
// ended after a while by done(), which bypasses the guarded reject, so the
// test fails instead of hanging.
int runModal(pwddialog &dialog, const std::function<void()> &whileOpen, bool *rescued = nullptr)
{
    QTimer::singleShot(0, &dialog, whileOpen);
    QTimer rescue;
    rescue.setSingleShot(true);
    bool fired = false;
    QObject::connect(&rescue, &QTimer::timeout, &dialog, [&] { fired = true; dialog.done(42); });
    rescue.start(10000);
    const int result = dialog.exec();
    if (rescued)
        *rescued = fired;
    return result;
}

TEST(BrimletPwdDialog, StartsWithEmptyFieldsHintAndEnabledButton)
{
    pwddialog dialog;
    const DialogParts p = partsOf(dialog);
    ASSERT_TRUE(p.lePwd && p.lePwd2 && p.hint && p.confirm);
    EXPECT_EQ(dialog.objectName(), "pwddialog");
    EXPECT_EQ(dialog.windowTitle(), "Password");
    EXPECT_EQ(dialog.size(), QSize(422, 147));
    EXPECT_EQ(p.lePwd->echoMode(), QLineEdit::Password);
    EXPECT_EQ(p.lePwd2->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(p.hint->text().isEmpty());
    EXPECT_TRUE(p.confirm->isEnabled());
    EXPECT_FALSE(p.confirm->autoDefault());
    EXPECT_EQ(p.confirm->text(), "Confirmed");
}

TEST(BrimletPwdDialog, OwnSlotsInOrder)
{
    const QMetaObject &meta = pwddialog::staticMetaObject;
    QStringList names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        names << QString::fromLatin1(meta.method(i).methodSignature());
    EXPECT_EQ(names, QStringList({"slot_btnConfirmedClicked(bool)", "slot_LineEditTextChanged(QString)"}));
}

TEST(BrimletPwdDialog, ConfirmedWithEmptyFieldsClosesWithEmptyPassword)
{
    pwddialog dialog;
    const DialogParts p = partsOf(dialog);
    bool rescued = false;
    const int result = runModal(dialog, [&] { QTest::mouseClick(p.confirm, Qt::LeftButton); }, &rescued);
    EXPECT_FALSE(rescued);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.password(), QString());
}

TEST(BrimletPwdDialog, MismatchShowsHintAndDisablesConfirmed)
{
    pwddialog dialog;
    dialog.show();
    const DialogParts p = partsOf(dialog);

    QTest::keyClicks(p.lePwd, "s3cret");
    EXPECT_EQ(p.hint->text(), "Password Mismatched");
    EXPECT_FALSE(p.confirm->isEnabled());

    QTest::keyClicks(p.lePwd2, "s3cre");
    EXPECT_EQ(p.hint->text(), "Password Mismatched");
    EXPECT_FALSE(p.confirm->isEnabled());

    QTest::keyClicks(p.lePwd2, "t");
    EXPECT_TRUE(p.hint->text().isEmpty());
    EXPECT_TRUE(p.confirm->isEnabled());
    EXPECT_EQ(dialog.password(), "s3cret");
}

TEST(BrimletPwdDialog, EscapeAndCloseAreIgnoredUntilConfirmed)
{
    pwddialog dialog;
    const DialogParts p = partsOf(dialog);
    bool stayedAfterEscape = false;
    bool stayedAfterClose = false;
    bool rescued = false;
    const int result = runModal(dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        stayedAfterEscape = dialog.isVisible();
        dialog.close();
        // the title bar's close button arrives as a close request on the window
        dialog.windowHandle()->close();
        stayedAfterClose = dialog.isVisible();
        QTest::keyClicks(p.lePwd, "pw");
        QTest::keyClicks(p.lePwd2, "pw");
        QTest::mouseClick(p.confirm, Qt::LeftButton);
    }, &rescued);
    EXPECT_TRUE(stayedAfterEscape);
    EXPECT_TRUE(stayedAfterClose);
    EXPECT_FALSE(rescued);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(dialog.password(), "pw");
}

TEST(BrimletPwdDialog, SecondUseStartsEmptyAndUnconfirmed)
{
    pwddialog dialog;
    const DialogParts p = partsOf(dialog);
    runModal(dialog, [&] {
        QTest::keyClicks(p.lePwd, "first");
        QTest::keyClicks(p.lePwd2, "firs");
        // leave it mismatched, then make it match and confirm
        QTest::keyClicks(p.lePwd2, "t");
        QTest::mouseClick(p.confirm, Qt::LeftButton);
    });
    ASSERT_EQ(dialog.password(), "first");

    // Mismatched text left behind must not leak into the next use either.
    QTest::keyClicks(p.lePwd2, "x");
    dialog.clearPasswords();
    EXPECT_TRUE(p.lePwd->text().isEmpty());
    EXPECT_TRUE(p.lePwd2->text().isEmpty());
    EXPECT_TRUE(p.hint->text().isEmpty());
    EXPECT_TRUE(p.confirm->isEnabled());

    // `confirmed` is clear again: Escape no longer ends the dialog.
    bool stayed = false;
    bool rescued = false;
    runModal(dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        stayed = dialog.isVisible();
        QTest::mouseClick(p.confirm, Qt::LeftButton);
    }, &rescued);
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(rescued);
    EXPECT_EQ(dialog.password(), QString());
}

} // namespace
