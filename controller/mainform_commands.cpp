// What the three command buttons do: ask for the password, compose the
// command text and hand it to the broker link.
#include "mainform.h"

#include <QDebug>

#include "command_message.h"
#include "pwddialog.h"

// The password is typed anew for every command and never stored; the dialog
// is kept between commands but starts empty each time.
QString MainForm::askPassword()
{
    if (!passwordDialog)
        passwordDialog = std::make_unique<pwddialog>(nullptr);
    passwordDialog->clearPasswords();
    passwordDialog->exec();
    return passwordDialog->password();
}

void MainForm::slot_btnRemoteTimeSlot1Clicked(bool)
{
    collectSlot1();
    publishSlotCommand(QStringLiteral("SLOT1"), controllerSettings.timeSlot1);
}

void MainForm::slot_btnRemoteTimeSlot2Clicked(bool)
{
    collectSlot2();
    publishSlotCommand(QStringLiteral("SLOT2"), controllerSettings.timeSlot2);
}

void MainForm::slot_btnEdidReenumerateClicked(bool)
{
    const QString password = askPassword();
    publishCommandText(composeEdidCommand(password));
}

void MainForm::publishSlotCommand(const QString &command, const SlotSettings &slot)
{
    const QString password = askPassword();
    publishCommandText(composeSlotCommand(command, slot, password));
}

// Published whether or not the link is up: nothing is queued or confirmed,
// the status bar is the operator's only sign of the connection.
void MainForm::publishCommandText(const QString &text)
{
    qDebug().noquote() << text;
    brokerLink->publishPayload(commandPayload(text));
}
