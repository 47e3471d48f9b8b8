#include "mainform.h"

#include "client_identity.h"
#include "client_security.h"

#include "ini_store.h"
#include "mqtt_transmit.h"
#include "qmqtt_message.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
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
    if (brokerAddress.isNull())
        qDebug().noquote() << "Host" << agentSettings.host
                           << "is not a numeric address; only numeric addresses are used, so no broker is reached";
    brokerLink = std::make_unique<MqttTransmit>(brokerAddress, agentSettings.port, agentSettings.topicToken,
                                                nullptr);
    applyBrokerSecurity(*brokerLink, agentSettings.security);
    applyProgramClientId(*brokerLink, QStringLiteral("Tamsel"));
    connect(brokerLink.get(), SIGNAL(SignalMqttReceived(const QMQTT::Message &)), this,
            SLOT(slot_mtsTopicReceived(const QMQTT::Message &)));
    brokerLink->connectToHost();

    edidPortOpen = false;
    if (!agentSettings.edidSerialPort.isEmpty()) {
        edidPort = new QSerialPort(this);
        edidPort->setPortName(agentSettings.edidSerialPort);
        connect(edidPort, SIGNAL(readyRead()), this, SLOT(slot_SerialPortReadData()));
        connect(edidPort, SIGNAL(errorOccurred(QSerialPort::SerialPortError)), this,
                SLOT(slot_SerialPortError(QSerialPort::SerialPortError)));
        edidPortOpen = openEdidPort();
        qDebug().noquote() << (edidPortOpen ? "Serial Port is connected" : "Serial Port can't be connected");
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
        // At start the window shows what came back, whatever the status.
        for (int slot : {1, 2}) {
            ScheduleRecord record {};
            controller->readSchedule(slot, record);
            showSchedule(slot, record);
        }
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

namespace {

// A UTF-16 text file starts with its byte-order mark.
bool isUtf16(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(2);
    return start == QByteArray("\xFF\xFE", 2) || start == QByteArray("\xFE\xFF", 2);
}

} // namespace

// The link goes first: once it is gone no message can reach the handler and
// the parts it drives, which go after it.
MainForm::~MainForm()
{
    brokerLink.reset();
}

bool MainForm::openEdidPort()
{
    edidPort->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    edidPort->setDataBits(QSerialPort::Data8);
    edidPort->setParity(QSerialPort::NoParity);
    edidPort->setStopBits(QSerialPort::OneStop);
    edidPort->setFlowControl(QSerialPort::NoFlowControl);
    return edidPort->open(QIODevice::ReadWrite);
}

void MainForm::setEdidPortOpen(bool open)
{
    edidPortOpen = open;
    if (edidLink)
        edidLink->setOpen(open);
    ui.labEdidEmulator->setText(open ? QStringLiteral("Yes") : QStringLiteral("No"));
}

void MainForm::loadSettings()
{
    // A folder (or anything else that is not a file) of that name is no settings file.
    const QFileInfo file(QStringLiteral("tamsel.ini"));
    const bool readable = file.isFile() && IniLoad("tamsel.ini");
    if (!readable) {
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
    if (readable && isUtf16(file.filePath()))
        qDebug().noquote() << "tamsel.ini is saved as UTF-16 and cannot be read; save it as UTF-8";
    if (agentSettings.pwd.isEmpty())
        qDebug().noquote() << "No password is set (Pwd in tamsel.ini): every command will be refused";
}

void MainForm::showSchedule(int slot, ScheduleRecord record)
{
    scheduleView->showSchedule(slot, record);
}

void MainForm::showUnknown(int slot)
{
    scheduleView->showUnknown(slot);
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
    commandHandler->receive(message.payload(), message.topic(), message.retain());
}

void MainForm::slot_SerialPortError(QSerialPort::SerialPortError error)
{
    // The device went away (adapter pulled, the other end closed) or stopped
    // taking data: holding the port would spin on its hang-up. Close it; the
    // status timer opens it again when the device is back.
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !edidPort || !edidPort->isOpen())
        return;
    qDebug().noquote() << "Serial Port" << edidPort->portName() << "failed (" << edidPort->errorString()
                       << "), closed";
    edidPort->close();
    setEdidPortOpen(false);
}

void MainForm::slot_SerialPortReadData()
{
    // The emulator's answers mean nothing to the agent.
    if (edidPort)
        edidPort->readAll();
}

void MainForm::slot_TimerEvent()
{
    if (edidPort && !edidPortOpen && openEdidPort()) {
        qDebug().noquote() << "Serial Port is connected";
        setEdidPortOpen(true);
    }
    ui.labMessageStatus->setText(brokerLink->isConnectedToHost() ? QStringLiteral("Connected")
                                                                 : QStringLiteral("Disconnected"));
}

void MainForm::closeEvent(QCloseEvent *event)
{
    // Without a tray there would be no way back to a hidden window.
    if (!quitRequested && !QSystemTrayIcon::isSystemTrayAvailable()) {
        showMinimized();
        event->ignore();
        return;
    }
    setVisible(false);
    hide();
    if (quitRequested)
        event->accept();
    else
        event->ignore();
}
