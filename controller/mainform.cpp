#include "mainform.h"

#include "client_identity.h"
#include "client_security.h"

#include <QDebug>
#include <QHostAddress>
#include <QIcon>
#include <QStatusBar>
#include <QTimer>

#include "pwddialog.h"

MainForm::MainForm(QWidget *parent)
    : QMainWindow(parent)
{
    auto *statusTimer = new QTimer(this);
    ui.setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/MainForm/Icon/ControlPanel.png")));

    controllerSettings = loadSettings();
    fillSlotWidgets(slot1Widgets(), controllerSettings.timeSlot1);
    fillSlotWidgets(slot2Widgets(), controllerSettings.timeSlot2);

    const QHostAddress brokerAddress(controllerSettings.host);
    qDebug() << brokerAddress;
    brokerLink = std::make_unique<MqttTransmit>(brokerAddress, controllerSettings.port,
                                                controllerSettings.topicToken, nullptr);
    applyBrokerSecurity(*brokerLink, controllerSettings.security);
    applyProgramClientId(*brokerLink, QStringLiteral("Brimlet"));
    connect(brokerLink.get(), SIGNAL(SignalMqttReceived(const QMQTT::Message &)),
            this, SLOT(slot_mtsTopicReceived(const QMQTT::Message &)));
    brokerLink->connectToHost();

    connect(statusTimer, SIGNAL(timeout()), this, SLOT(slot_TimerEvent()));
    statusTimer->start(1000);
}

// Every way the window can close ends here, so the slots are saved on every
// normal exit, not only through "Quit".
MainForm::~MainForm()
{
    brokerLink->disconnectFromHost();
    collectSlot1();
    collectSlot2();
    if (!saveSettings(controllerSettings))
        qWarning() << "The slot settings could not be written to" << settingsFileName;
}

SlotWidgets MainForm::slot1Widgets() const
{
    SlotWidgets w;
    w.days = {ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed,
              ui.cbRTS1_Thu, ui.cbRTS1_Fri, ui.cbRTS1_Sat};
    w.pwrOn = ui.gbcbRTS1_PwrOn;
    w.pwrOnTime = ui.tebRTS1_PwrOn;
    w.pwrOff = ui.gbcbRTS1_PwrOff;
    w.pwrOffTime = ui.tebRTS1_PwrOff;
    return w;
}

SlotWidgets MainForm::slot2Widgets() const
{
    SlotWidgets w;
    w.days = {ui.cbRTS2_Sun, ui.cbRTS2_Mon, ui.cbRTS2_Tue, ui.cbRTS2_Wed,
              ui.cbRTS2_Thu, ui.cbRTS2_Fri, ui.cbRTS2_Sat};
    w.pwrOn = ui.gbcbRTS2_PwrOn;
    w.pwrOnTime = ui.tebRTS2_PwrOn;
    w.pwrOff = ui.gbcbRTS2_PwrOff;
    w.pwrOffTime = ui.tebRTS2_PwrOff;
    return w;
}

void MainForm::collectSlot1()
{
    controllerSettings.timeSlot1 = collectSlotWidgets(slot1Widgets());
}

void MainForm::collectSlot2()
{
    controllerSettings.timeSlot2 = collectSlotWidgets(slot2Widgets());
}

void MainForm::slot_btnSaveAndQuitClicked(bool)
{
    close();
}

void MainForm::slot_gbcbRTS1_PwrOnClicked(bool)
{
    applyEnableRule(slot1Widgets());
}

void MainForm::slot_gbcbRTS1_PwrOffClicked(bool)
{
}

void MainForm::slot_gbcbRTS2_PwrOnClicked(bool)
{
    applyEnableRule(slot2Widgets());
}

void MainForm::slot_gbcbRTS2_PwrOffClicked(bool)
{
}

// The controller only publishes; what comes back on its own topic (its own
// commands included) is of no interest to it.
void MainForm::slot_mtsTopicReceived(const QMQTT::Message &)
{
}

void MainForm::slot_TimerEvent()
{
    const QString text = brokerLink->isConnectedToHost() ? tr("Network connected") : tr("The network is disconnected");
    // Shown again only when it changed or went (a status tip clears it):
    // showing it anew every second repaints the window every second.
    if (statusBar()->currentMessage() != text)
        statusBar()->showMessage(text, 0);
}
