#include "pwddialog.h"

pwddialog::pwddialog(QWidget *parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    confirmed = false;
    ui.labPwdHint->setText(QString());
}

void pwddialog::clearPasswords()
{
    ui.lePwd->clear();
    ui.lePwd2->clear();
    confirmed = false;
}

QString pwddialog::password() const
{
    return ui.lePwd->text();
}

// Escape and the title bar's close button both end up here.
void pwddialog::reject()
{
    if (confirmed)
        QDialog::reject();
}

void pwddialog::slot_btnConfirmedClicked(bool)
{
    confirmed = true;
    close();
}

void pwddialog::slot_LineEditTextChanged(const QString &)
{
    if (ui.lePwd->text() == ui.lePwd2->text()) {
        ui.labPwdHint->setText(QString());
        ui.btnConfirmed->setEnabled(true);
    } else {
        ui.labPwdHint->setText(tr("Password Mismatched"));
        ui.btnConfirmed->setEnabled(false);
    }
}
