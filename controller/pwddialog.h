#pragma once
// Asks for the command password twice; the only way out is "Confirmed", so a
// command is never sent with a password the operator did not mean to give.
#include <QDialog>
#include <QString>

#include "ui_pwddialog.h"

class pwddialog : public QDialog {
    Q_OBJECT

public:
    explicit pwddialog(QWidget *parent = nullptr);

    void clearPasswords();
    QString password() const;

    // Already a slot in QDialog; overriding keeps Escape and the close button
    // from ending the dialog before the operator has confirmed.
    void reject() override;

private slots:
    void slot_btnConfirmedClicked(bool checked);
    void slot_LineEditTextChanged(const QString &text);

private:
    Ui::pwddialog ui;
    bool confirmed = false;
};
