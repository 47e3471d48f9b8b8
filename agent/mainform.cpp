#include "mainform.h"

#include "ini_store.h"
#include "mqtt_transmit.h"
#include "qmqtt_message.h"

#include <QAction>
#include <QCloseEvent>
#include <QDebug>
#include <QHostAddress>
#include <QMenu>
#include <QMessageBox>
#include <QSerialPort>
#include <QTimer>

MainForm::MainForm(QWidget *parent) : QMainWindow(parent), trayIcon(), statusTimer(new QTimer(this))
{
    // The icon lives in a static library; make sure its resources are linked in.
    Q_INIT_RESOURCE(agent);
    ui.setupUi(this);
    scheduleView = std::make_unique<ScheduleView>(ui);

    quitRequested = false;
    setVisible(false);
    hide();

    loadSettings();

    quitAction = new QAction(tr("&Quit"), this);
    connect(quitAction, SIGNAL(triggered()), this, SLOT(slot_actTrayQuit()));
    trayMenu = new QMenu(this);
    trayMenu->addAction(quitAction);

    connect(&trayIcon, SIGNAL(messageClicked()), this, SLOT(slot_TrayClicked()));
    connect(&trayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(slot_TrayActivated(QSystemTrayIcon::ActivationReason)));

    trayIcon.setIcon(QIcon(QStringLiteral(":/MainForm/Icon/remote.png")));
    trayIcon.setToolTip(QStringLiteral("Tamsel"));
    trayIcon.setContextMenu(trayMenu);
    trayIcon.setVisible(true);

    // An address literal only: a host name is never looked up.
    const QHostAddress brokerAddress(agentSettings.host);
    brokerLink = std::make_unique<MqttTransmit>(brokerAddress, agentSettings.port, agentSettings.topicToken,
                                                nullptr);
    connect(brokerLink.get(), SIGNAL(SignalMqttReceived(const QMQTT::Message &)), this,
            SLOT(slot_mtsTopicReceived(const QMQTT::Message &)));
    brokerLink->connectToHost();

    edidPortOpen = false;
    if (!agentSettings.edidSerialPort.isEmpty()) {
        edidPort = new QSerialPort(this);
        edidPort->setPortName(agentSettings.edidSerialPort);
        edidPort->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
        edidPort->setDataBits(QSerialPort::Data8);
        edidPort->setParity(QSerialPort::NoParity);
        edidPort->setStopBits(QSerialPort::OneStop);
        edidPort->setFlowControl(QSerialPort::NoFlowControl);
        if (edidPort->open(QIODevice::ReadWrite)) {
            qDebug().noquote() << "Serial Port is connected";
            edidPortOpen = true;
            connect(edidPort, SIGNAL(readyRead()), this, SLOT(slot_SerialPortReadData()));
        } else {
            qDebug().noquote() << "Serial Port can't be connected";
            edidPortOpen = false;
        }
    }
    edidLink = std::make_unique<EdidLink>(edidPort, edidPortOpen);

    orvelAvailable = false;
    if (bindOrvel(orvelApi)) {
        controller = std::make_unique<OrvelController>(orvelApi);
        orvelAvailable = controller->open();
    } else {
        controller = std::make_unique<OrvelController>(OrvelApi());
    }

    ui.labMessageTopic->setText(agentSettings.topicToken);
    ui.labMessageStatus->setText(QString());
    ui.labORVL->setText(orvelAvailable ? QStringLiteral("Yes") : QStringLiteral("No"));
    ui.labEdidEmulator->setText(edidPortOpen ? QStringLiteral("Yes") : QStringLiteral("No"));

    if (orvelAvailable) {
        showSchedule(1, controller->readSchedule(1));
        showSchedule(2, controller->readSchedule(2));
    } else {
        scheduleView->hideSchedules();
        resize(300, 1);
    }

    commandHandler = std::make_unique<CommandHandler>(agentSettings.pwd, *controller, *this, *edidLink);

    connect(statusTimer, SIGNAL(timeout()), this, SLOT(slot_TimerEvent()));
    statusTimer->start(1000);

    // Without any system tray the window is the only way to reach the agent.
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !quitRequested)
        show();
}

MainForm::~MainForm() = default;

void MainForm::loadSettings()
{
    if (!IniLoad("tamsel.ini")) {
        QMessageBox box;
        box.setText(QStringLiteral("The configuration file is missed"));
        box.setInformativeText(
            QStringLiteral("Please confirm the application folder and make sure this file is setting correctly."));
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
        quitRequested = true;
        QTimer::singleShot(100, this, SLOT(close()));
    }
    agentSettings = readAgentSettings();
    IniClose();
}

void MainForm::showSchedule(int slot, ScheduleRecord record)
{
    scheduleView->showSchedule(slot, record);
}

void MainForm::sendEdidReenumeration()
{
    edidLink->sendEdidReenumeration();
}

void MainForm::slot_actTrayQuit()
{
    quitRequested = true;
    close();
}

void MainForm::slot_TrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
        setWindowState(Qt::WindowActive);
        activateWindow();
        show();
    }
}

void MainForm::slot_TrayClicked() {}

void MainForm::slot_mtsTopicReceived(const QMQTT::Message &message)
{
    commandHandler->handle(message.payload(), message.topic());
}

void MainForm::slot_SerialPortReadData()
{
    // The emulator's answers mean nothing to the agent.
    if (edidPort)
        edidPort->readAll();
}

void MainForm::slot_TimerEvent()
{
    ui.labMessageStatus->setText(brokerLink->isConnectedToHost() ? QStringLiteral("Connected")
                                                                 : QStringLiteral("Disconnected"));
}

void MainForm::closeEvent(QCloseEvent *event)
{
    setVisible(false);
    hide();
    if (quitRequested)
        event->accept();
    else
        event->ignore();
}
