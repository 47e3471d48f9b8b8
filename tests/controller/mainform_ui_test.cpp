// The form on its own, straight after setupUi, on a window that only records
// which of its slots the form's connections call.
#include <QCheckBox>
#include <QFont>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QTimeEdit>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

#include "brimlet_test_fixture.h"
#include "ui_mainform.h"

class FormHost : public QMainWindow {
    Q_OBJECT
public:
    std::vector<std::pair<QString, bool>> calls;

public slots:
    void slot_btnSaveAndQuitClicked(bool c) { calls.emplace_back("SaveAndQuit", c); }
    void slot_btnEdidReenumerateClicked(bool c) { calls.emplace_back("EdidReenumerate", c); }
    void slot_btnRemoteTimeSlot1Clicked(bool c) { calls.emplace_back("RemoteTimeSlot1", c); }
    void slot_btnRemoteTimeSlot2Clicked(bool c) { calls.emplace_back("RemoteTimeSlot2", c); }
    void slot_gbcbRTS1_PwrOnClicked(bool c) { calls.emplace_back("RTS1_PwrOn", c); }
    void slot_gbcbRTS1_PwrOffClicked(bool c) { calls.emplace_back("RTS1_PwrOff", c); }
    void slot_gbcbRTS2_PwrOnClicked(bool c) { calls.emplace_back("RTS2_PwrOn", c); }
    void slot_gbcbRTS2_PwrOffClicked(bool c) { calls.emplace_back("RTS2_PwrOff", c); }
};

namespace {

class BrimletForm : public ::testing::Test {
protected:
    void SetUp() override { ui.setupUi(&host); }
    FormHost host;
    Ui::MainFormClass ui;
};

TEST_F(BrimletForm, WindowSettings)
{
    EXPECT_EQ(host.objectName(), "MainFormClass");
    EXPECT_EQ(host.size(), QSize(733, 401));
    EXPECT_EQ(host.font().family(), "Century Gothic");
    EXPECT_EQ(host.font().pointSize(), 10);
    EXPECT_EQ(host.windowTitle(), "Halden v1.0");
    EXPECT_EQ(host.centralWidget(), ui.centralWidget);
    EXPECT_EQ(host.statusBar(), ui.statusBar);
    EXPECT_EQ(ui.stackedWidget->count(), 3);
    EXPECT_EQ(ui.stackedWidget->frameShape(), QFrame::StyledPanel);
    EXPECT_EQ(ui.stackedWidget->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(ui.horizontalLayout->stretch(0), 2);
    EXPECT_EQ(ui.horizontalLayout->stretch(2), 4);
}

TEST_F(BrimletForm, ListItemsWithIcons)
{
    const char *texts[] = {"Remote TimeSlot1", "Remote TimeSlot2", "EDID Re-enumeration"};
    ASSERT_EQ(ui.listWidget->count(), 3);
    EXPECT_EQ(ui.listWidget->iconSize(), QSize(32, 32));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(ui.listWidget->item(row)->text(), texts[row]);
        EXPECT_FALSE(ui.listWidget->item(row)->icon().isNull()) << row;
    }
    EXPECT_EQ(ui.listWidget->currentRow(), -1);
}

TEST(BrimletIcons, ResourcesHaveTheirSizes)
{
    const std::pair<const char *, int> icons[] = {{":/MainForm/Icon/ControlPanel.png", 128},
                                                  {":/MainForm/Icon/calendar.png", 48},
                                                  {":/MainForm/Icon/rotation.png", 48}};
    for (const auto &[path, side] : icons) {
        const QImage image(QString::fromLatin1(path));
        EXPECT_EQ(image.size(), QSize(side, side)) << path;
        EXPECT_TRUE(image.hasAlphaChannel()) << path;
    }
}

TEST_F(BrimletForm, StraightAfterSetupUi)
{
    EXPECT_EQ(ui.stackedWidget->currentIndex(), 0);
    for (auto *box : {ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed, ui.cbRTS1_Thu,
                      ui.cbRTS1_Fri, ui.cbRTS1_Sat, ui.cbRTS2_Sun, ui.cbRTS2_Mon, ui.cbRTS2_Tue,
                      ui.cbRTS2_Wed, ui.cbRTS2_Thu, ui.cbRTS2_Fri, ui.cbRTS2_Sat})
        EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();
    for (auto *on : {ui.gbcbRTS1_PwrOn, ui.gbcbRTS2_PwrOn}) {
        EXPECT_TRUE(on->isCheckable());
        EXPECT_TRUE(on->isChecked());
        EXPECT_EQ(on->title(), "Power On");
    }
    for (auto *off : {ui.gbcbRTS1_PwrOff, ui.gbcbRTS2_PwrOff}) {
        EXPECT_TRUE(off->isCheckable());
        EXPECT_FALSE(off->isChecked());
        EXPECT_EQ(off->title(), "Power Off");
    }
    for (auto *on : {ui.tebRTS1_PwrOn, ui.tebRTS2_PwrOn}) {
        EXPECT_EQ(on->time(), QTime(9, 0));
        EXPECT_EQ(on->displayFormat(), "hh:mm");
    }
    for (auto *off : {ui.tebRTS1_PwrOff, ui.tebRTS2_PwrOff}) {
        EXPECT_EQ(off->time(), QTime(21, 0));
        EXPECT_EQ(off->displayFormat(), "hh:mm");
        // inside an unchecked group box the time edit is greyed out
        EXPECT_FALSE(off->isEnabled());
    }
    EXPECT_EQ(ui.tebRTS1_PwrOn->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    EXPECT_EQ(ui.tebRTS1_PwrOn->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(BrimletForm, Texts)
{
    const std::pair<QLabel *, const char *> labels[] = {
        {ui.label, "Remote TimeSlot 1"}, {ui.label_2, "Remote TimeSlot 2"},
        {ui.label_3, "EDID Re-enumeration"},
        {ui.label_4, "Note : The power off time must be later than power on time"},
        {ui.label_5, "Note : The power off time must be later than power on time"}};
    for (const auto &[label, text] : labels)
        EXPECT_EQ(label->text(), text);
    for (auto *title : {ui.label, ui.label_2, ui.label_3}) {
        EXPECT_TRUE(title->font().bold());
        EXPECT_EQ(title->font().weight(), 75);
    }
    for (auto *note : {ui.label_4, ui.label_5}) {
        EXPECT_EQ(note->font().pointSize(), 8);
        EXPECT_EQ(note->font().family(), "Century Gothic");
        EXPECT_TRUE(note->wordWrap());
    }
    EXPECT_EQ(ui.groupBox_5->title(), "Active Days");
    EXPECT_EQ(ui.groupBox_6->title(), "Active Days");
    EXPECT_EQ(ui.btnRemoteTimeSlot1->text(), "Execute");
    EXPECT_EQ(ui.btnRemoteTimeSlot2->text(), "Execute");
    EXPECT_EQ(ui.btnEdidReenumerate->text(), "Re-enumeration Now!");
    EXPECT_EQ(ui.btnSaveAndQuit->text(), "Quit");
    const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const QCheckBox *slot1[] = {ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed,
                                ui.cbRTS1_Thu, ui.cbRTS1_Fri, ui.cbRTS1_Sat};
    const QCheckBox *slot2[] = {ui.cbRTS2_Sun, ui.cbRTS2_Mon, ui.cbRTS2_Tue, ui.cbRTS2_Wed,
                                ui.cbRTS2_Thu, ui.cbRTS2_Fri, ui.cbRTS2_Sat};
    for (int d = 0; d < 7; ++d) {
        EXPECT_EQ(slot1[d]->text(), days[d]);
        EXPECT_EQ(slot2[d]->text(), days[d]);
    }
}

TEST_F(BrimletForm, ListRowSelectsPageOfSameIndex)
{
    host.show();
    ui.listWidget->setCurrentRow(2);
    EXPECT_EQ(ui.stackedWidget->currentWidget(), ui.page_3);
    EXPECT_TRUE(ui.btnEdidReenumerate->isVisible());
    EXPECT_TRUE(ui.label_3->isVisible());
    EXPECT_FALSE(ui.btnRemoteTimeSlot1->isVisible());

    ui.tebRTS1_PwrOn->setTime(QTime(7, 30));
    ui.listWidget->setCurrentRow(0);
    EXPECT_EQ(ui.stackedWidget->currentWidget(), ui.page);
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(7, 30));
    ui.listWidget->setCurrentRow(1);
    EXPECT_EQ(ui.stackedWidget->currentWidget(), ui.page_2);
}

TEST_F(BrimletForm, ButtonsAndGroupBoxesReachTheirSlots)
{
    host.show();
    ui.listWidget->setCurrentRow(0);
    QTest::mouseClick(ui.btnRemoteTimeSlot1, Qt::LeftButton);
    // Space on a checkable group box toggles it as a click on its check mark does.
    QTest::keyClick(ui.gbcbRTS1_PwrOn, Qt::Key_Space);
    EXPECT_FALSE(ui.tebRTS1_PwrOn->isEnabled());
    QTest::keyClick(ui.gbcbRTS1_PwrOff, Qt::Key_Space);
    ui.listWidget->setCurrentRow(1);
    QTest::mouseClick(ui.btnRemoteTimeSlot2, Qt::LeftButton);
    QTest::keyClick(ui.gbcbRTS2_PwrOn, Qt::Key_Space);
    QTest::keyClick(ui.gbcbRTS2_PwrOff, Qt::Key_Space);
    ui.listWidget->setCurrentRow(2);
    QTest::mouseClick(ui.btnEdidReenumerate, Qt::LeftButton);
    QTest::mouseClick(ui.btnSaveAndQuit, Qt::LeftButton);

    const std::vector<std::pair<QString, bool>> expected = {
        {"RemoteTimeSlot1", false}, {"RTS1_PwrOn", false}, {"RTS1_PwrOff", true},
        {"RemoteTimeSlot2", false}, {"RTS2_PwrOn", false}, {"RTS2_PwrOff", true},
        {"EdidReenumerate", false}, {"SaveAndQuit", false}};
    EXPECT_EQ(host.calls, expected);
}

} // namespace

#include "mainform_ui_test.moc"
