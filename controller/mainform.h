#pragma once
// Brimlet's main window: edits the two remote time slots, publishes commands
// to the broker, and keeps the slots in "Brimlet.ini" between runs.
#include <QMainWindow>
#include <QString>
#include <memory>

#include "controller_settings.h"
#include "mqtt_transmit.h"
#include "slot_widgets.h"
#include "ui_mainform.h"

class pwddialog;

class MainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit MainForm(QWidget *parent = nullptr);
    ~MainForm() override;

    void collectSlot1();
    void collectSlot2();
    QString askPassword();

    const ControllerSettings &settings() const { return controllerSettings; }

private slots:
    void slot_btnSaveAndQuitClicked(bool checked);
    void slot_btnEdidReenumerateClicked(bool checked);
    void slot_btnRemoteTimeSlot1Clicked(bool checked);
    void slot_btnRemoteTimeSlot2Clicked(bool checked);
    void slot_gbcbRTS1_PwrOnClicked(bool checked);
    void slot_gbcbRTS1_PwrOffClicked(bool checked);
    void slot_gbcbRTS2_PwrOnClicked(bool checked);
    void slot_gbcbRTS2_PwrOffClicked(bool checked);
    void slot_mtsTopicReceived(const QMQTT::Message &message);
    void slot_TimerEvent();

private:
    SlotWidgets slot1Widgets() const;
    SlotWidgets slot2Widgets() const;
    void publishSlotCommand(const QString &command, const SlotSettings &slot);
    void publishCommandText(const QString &text);

    Ui::MainFormClass ui;
    ControllerSettings controllerSettings;
    // Neither has a Qt parent: the dialog is a top-level window of its own and
    // the link outlives any widget. The window still frees both when it goes,
    // so no connection keeps retrying behind a closed window.
    std::unique_ptr<pwddialog> passwordDialog;
    std::unique_ptr<MqttTransmit> brokerLink;
};
