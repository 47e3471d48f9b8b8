#pragma once
// Tamsel's main window: owns every part of the agent (tray icon, broker link,
// EDID port, library binding) and shows its status and the two remote slots.
#include "agent_settings.h"
#include "command_handler.h"
#include "command_targets.h"
#include "edid_link.h"
#include "orvel_controller.h"
#include "schedule_view.h"
#include "ui_mainform.h"

#include <QMainWindow>
#include <QSerialPort>
#include <QSystemTrayIcon>
#include <memory>

class MqttTransmit;
class QAction;
class QCloseEvent;
class QMenu;
class QTimer;
namespace QMQTT {
class Message;
}

class MainForm : public QMainWindow, public ScheduleDisplay {
    Q_OBJECT

public:
    explicit MainForm(QWidget *parent = nullptr);
    ~MainForm() override;

    void showSchedule(int slot, ScheduleRecord record) override;
    void showUnknown(int slot) override;
    void sendEdidReenumeration();

    bool isQuitRequested() const { return quitRequested; }
    bool isOrvelAvailable() const { return orvelAvailable; }
    bool isEdidPortOpen() const { return edidPortOpen; }
    const AgentSettings &settings() const { return agentSettings; }
    Ui::MainFormClass &form() { return ui; }

public slots:
    void slot_actTrayQuit();
    void slot_TrayActivated(QSystemTrayIcon::ActivationReason reason);
    void slot_TrayClicked();
    void slot_mtsTopicReceived(const QMQTT::Message &message);
    void slot_SerialPortReadData();
    void slot_SerialPortError(QSerialPort::SerialPortError error);
    void slot_TimerEvent();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void loadSettings();
    bool openEdidPort();
    void setEdidPortOpen(bool open);

    Ui::MainFormClass ui;
    QSystemTrayIcon trayIcon;
    QMenu *trayMenu = nullptr;
    QAction *quitAction = nullptr;
    QTimer *statusTimer = nullptr;
    // Lives for the whole run, like the program; owned here so it goes with us.
    std::unique_ptr<MqttTransmit> brokerLink;
    QSerialPort *edidPort = nullptr;
    bool quitRequested = false;
    bool orvelAvailable = false;
    bool edidPortOpen = false;

    AgentSettings agentSettings;
    OrvelApi orvelApi;
    std::unique_ptr<OrvelController> controller;
    std::unique_ptr<ScheduleView> scheduleView;
    std::unique_ptr<EdidLink> edidLink;
    std::unique_ptr<CommandHandler> commandHandler;
};
