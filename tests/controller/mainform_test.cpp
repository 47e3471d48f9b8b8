// Brimlet's window with its settings file: what a start shows, what every
// way of closing writes back, and the power-off enable rule.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QListWidget>
#include <QMetaMethod>
#include <QStringList>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QWindow>
#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "brimlet_test_fixture.h"
#include "controller_settings.h"
#include "mainform.h"

namespace {

struct SlotView {
    std::array<QCheckBox *, 7> days;
    QGroupBox *on;
    QTimeEdit *onTime;
    QGroupBox *off;
    QTimeEdit *offTime;
};

SlotView slotView(MainForm &form, int slot)
{
    const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const QString prefix = QStringLiteral("RTS%1_").arg(slot);
    SlotView v{};
    for (int d = 0; d < 7; ++d)
        v.days[d] = widget<QCheckBox>(&form, ("cb" + prefix + days[d]).toLatin1().constData());
    v.on = widget<QGroupBox>(&form, ("gbcb" + prefix + "PwrOn").toLatin1().constData());
    v.onTime = widget<QTimeEdit>(&form, ("teb" + prefix + "PwrOn").toLatin1().constData());
    v.off = widget<QGroupBox>(&form, ("gbcb" + prefix + "PwrOff").toLatin1().constData());
    v.offTime = widget<QTimeEdit>(&form, ("teb" + prefix + "PwrOff").toLatin1().constData());
    return v;
}

int shownDays(const SlotView &v)
{
    int mask = 0;
    for (int d = 0; d < 7; ++d)
        mask |= v.days[d]->isChecked() ? 1 << d : 0;
    return mask;
}

// A mouse click on the group box's check mark, where the style draws it.
// (Not Space: QGroupBox takes keys even while disabled, which no user can.)
void toggleByUser(QGroupBox *box)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxCheckBox | QStyle::SC_GroupBoxLabel;
    option.state |= box->isChecked() ? QStyle::State_On : QStyle::State_Off;
    const QRect mark = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                    QStyle::SC_GroupBoxCheckBox, box);
    ASSERT_TRUE(box->isVisible() && mark.isValid()) << box->objectName().toStdString();
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, mark.center());
}

// Runs the application's event loop while `action` closes the window, as the
// program's entry does; the loop must end by itself when the window closes.
bool closeInEventLoop(const std::function<void()> &action)
{
    bool timedOut = false;
    QTimer rescue;
    rescue.setSingleShot(true);
    QObject::connect(&rescue, &QTimer::timeout, [&] { timedOut = true; QCoreApplication::quit(); });
    rescue.start(10000);
    QTimer::singleShot(0, action);
    QApplication::exec();
    return !timedOut;
}

const std::string defaultSlots =
    "[Slot1]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=1\r\nPwrOnMinute=0\r\n"
    "PwrOnHour=9\r\nPwrOnEnable=1\r\nActiveDay=127\r\n"
    "[Slot2]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=1\r\nPwrOnMinute=0\r\n"
    "PwrOnHour=9\r\nPwrOnEnable=1\r\nActiveDay=127\r\n";

using BrimletWindow = BrimletFolderTest;

TEST_F(BrimletWindow, FirstStartShowsDefaultsAndQuitWritesBothSlots)
{
    auto form = std::make_unique<MainForm>();
    EXPECT_FALSE(halden::test::fileExists(settingsPath())) << "nothing is written at start-up";
    EXPECT_FALSE(form->windowIcon().isNull());
    for (int slot : {1, 2}) {
        const SlotView v = slotView(*form, slot);
        EXPECT_EQ(shownDays(v), 127);
        EXPECT_TRUE(v.on->isChecked());
        EXPECT_EQ(v.onTime->time(), QTime(9, 0));
        EXPECT_TRUE(v.off->isChecked());
        EXPECT_TRUE(v.off->isEnabled());
        EXPECT_EQ(v.offTime->time(), QTime(21, 0));
    }
    EXPECT_EQ(form->settings().host, "127.0.0.1");
    form->show();
    auto *quit = widget<QPushButton>(form.get(), "btnSaveAndQuit");
    ASSERT_TRUE(closeInEventLoop([&] { QTest::mouseClick(quit, Qt::LeftButton); }));
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_EQ(settingsText(), defaultSlots);
}

TEST_F(BrimletWindow, SaveKeepsGeneralSectionAndComments)
{
    const std::string general =
        "; broker of this site\r\n[General]\r\nHost=127.0.0.1\r\nPort=1\r\nTopicToken=site/a\r\n\r\n";
    writeSettings(general);
    auto form = std::make_unique<MainForm>();
    EXPECT_EQ(form->settings().topicToken, "site/a");
    EXPECT_EQ(form->settings().port, 1);
    form.reset();
    EXPECT_EQ(settingsText(), general + defaultSlots);
}

// The form and the broker link connect by these signatures, so a renamed or
// re-typed slot would silently cut a button off.
TEST(BrimletWindowSlots, DeclaredInOrder)
{
    const QMetaObject &meta = MainForm::staticMetaObject;
    QStringList names;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        names << QString::fromLatin1(meta.method(i).methodSignature());
    EXPECT_EQ(names, QStringList({
        "slot_btnSaveAndQuitClicked(bool)", "slot_btnEdidReenumerateClicked(bool)",
        "slot_btnRemoteTimeSlot1Clicked(bool)", "slot_btnRemoteTimeSlot2Clicked(bool)",
        "slot_gbcbRTS1_PwrOnClicked(bool)", "slot_gbcbRTS1_PwrOffClicked(bool)",
        "slot_gbcbRTS2_PwrOnClicked(bool)", "slot_gbcbRTS2_PwrOffClicked(bool)",
        "slot_mtsTopicReceived(QMQTT::Message)", "slot_TimerEvent()"}));
}

TEST_F(BrimletWindow, HexPortIsRead)
{
    writeSettings("[General]\nPort=0x75B\n");
    MainForm form;
    EXPECT_EQ(form.settings().port, 1883);
}

struct LoadCase {
    const char *slot1Lines;
    int shownDays;
    QTime onTime;
    QTime offTime;
    int savedActiveDay;
};

class BrimletWindowLoading : public BrimletFolderTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(BrimletWindowLoading, ShowsCheckedValuesAndSavesThem)
{
    const LoadCase &c = GetParam();
    writeSettings(std::string("[Slot1]\r\n") + c.slot1Lines);
    auto form = std::make_unique<MainForm>();
    const SlotView v = slotView(*form, 1);
    EXPECT_EQ(shownDays(v), c.shownDays);
    EXPECT_EQ(v.onTime->time(), c.onTime);
    EXPECT_EQ(v.offTime->time(), c.offTime);
    EXPECT_EQ(shownDays(slotView(*form, 2)), 127);
    form.reset();

    const ControllerSettings saved = loadSettings(settingsPath().c_str());
    EXPECT_EQ(saved.timeSlot1.activeDay, c.savedActiveDay);
    EXPECT_EQ(saved.timeSlot1.pwrOnHour, c.onTime.hour());
    EXPECT_EQ(saved.timeSlot1.pwrOnMinute, c.onTime.minute());
    EXPECT_EQ(saved.timeSlot1.pwrOffHour, c.offTime.hour());
    EXPECT_EQ(saved.timeSlot1.pwrOffMinute, c.offTime.minute());
    EXPECT_NE(settingsText().find("ActiveDay=" + std::to_string(c.savedActiveDay) + "\r\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Table, BrimletWindowLoading, ::testing::Values(
    LoadCase{"PwrOnHour=24\r\n", 127, QTime(9, 0), QTime(21, 0), 127},
    LoadCase{"PwrOnHour=-1\r\n", 127, QTime(9, 0), QTime(21, 0), 127},
    LoadCase{"PwrOffHour=30\r\n", 127, QTime(9, 0), QTime(21, 0), 127},
    LoadCase{"PwrOnMinute=60\r\nPwrOffMinute=75\r\n", 127, QTime(9, 0), QTime(21, 0), 127},
    LoadCase{"PwrOffHour=22\r\nPwrOffMinute=75\r\n", 127, QTime(9, 0), QTime(22, 0), 127},
    LoadCase{"PwrOnHour=6\r\nPwrOnMinute=45\r\nPwrOffHour=6\r\nPwrOffMinute=0\r\n", 127,
             QTime(6, 45), QTime(6, 0), 127},
    LoadCase{"ActiveDay=0x41\r\n", 0x41, QTime(9, 0), QTime(21, 0), 0x41},
    LoadCase{"ActiveDay=255\r\n", 127, QTime(9, 0), QTime(21, 0), 127},
    LoadCase{"ActiveDay=0\r\n", 0, QTime(9, 0), QTime(21, 0), 0}));

TEST_F(BrimletWindow, PowerOffWithoutPowerOnStartsUncheckedButEnabled)
{
    writeSettings("[Slot1]\r\nPwrOnEnable=0\r\nPwrOffEnable=1\r\n");
    {
        MainForm form;
        const SlotView v = slotView(form, 1);
        EXPECT_FALSE(v.on->isChecked());
        EXPECT_FALSE(v.off->isChecked());
        EXPECT_TRUE(v.off->isEnabled());
    }
    EXPECT_NE(settingsText().find("PwrOffEnable=0\r\n"), std::string::npos);

    // The operator may still check power-off on its own; that is what is saved...
    {
        MainForm form;
        form.show();
        const SlotView v = slotView(form, 1);
        toggleByUser(v.off);
        EXPECT_TRUE(v.off->isChecked());
        EXPECT_FALSE(v.on->isChecked());
    }
    const std::string text = settingsText();
    EXPECT_NE(text.find("PwrOnEnable=0\r\n"), std::string::npos);
    EXPECT_NE(text.find("PwrOffEnable=1\r\n"), std::string::npos);

    // ...and the next start shows it unchecked again.
    MainForm form;
    EXPECT_FALSE(slotView(form, 1).off->isChecked());
}

TEST_F(BrimletWindow, EnableRuleFollowsPowerOnClicks)
{
    MainForm form;
    form.show();
    for (int slot : {1, 2}) {
        if (slot == 2)
            widget<QListWidget>(&form, "listWidget")->setCurrentRow(1);
        const SlotView v = slotView(form, slot);
        ASSERT_TRUE(v.off->isChecked());

        toggleByUser(v.on);
        EXPECT_FALSE(v.on->isChecked());
        EXPECT_FALSE(v.onTime->isEnabled());
        EXPECT_FALSE(v.off->isChecked());
        EXPECT_FALSE(v.off->isEnabled());

        // a disabled group box takes no clicks
        toggleByUser(v.off);
        EXPECT_FALSE(v.off->isChecked());

        toggleByUser(v.on);
        EXPECT_TRUE(v.on->isChecked());
        EXPECT_TRUE(v.off->isEnabled());
        EXPECT_FALSE(v.off->isChecked());
    }
    // Changing power-on from code is no click: the rule stays out of it.
    widget<QListWidget>(&form, "listWidget")->setCurrentRow(0);
    const SlotView v1 = slotView(form, 1);
    toggleByUser(v1.off);
    v1.on->setChecked(false);
    EXPECT_TRUE(v1.off->isChecked());
    EXPECT_TRUE(v1.off->isEnabled());
}

struct CloseWay {
    const char *name;
    std::function<void(MainForm &)> close;
};

class BrimletWindowClosing : public BrimletFolderTest, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(BrimletWindowClosing, SavesTheWidgetsAsTheyStand)
{
    auto form = std::make_unique<MainForm>();
    form->show();
    const SlotView v1 = slotView(*form, 1);
    const SlotView v2 = slotView(*form, 2);
    v1.days[0]->click();           // Sunday off
    v1.onTime->setTime(QTime(7, 30, 45));
    toggleByUser(v1.off);          // power-off off
    widget<QListWidget>(form.get(), "listWidget")->setCurrentRow(1);
    v2.days[6]->click();           // Saturday off
    v2.offTime->setTime(QTime(23, 59));
    toggleByUser(v2.on);           // power-on off, power-off follows

    ASSERT_TRUE(closeInEventLoop([&] { GetParam().close(*form); })) << GetParam().name;
    EXPECT_FALSE(form->isVisible());
    form.reset();
    EXPECT_EQ(settingsText(),
              "[Slot1]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=0\r\nPwrOnMinute=30\r\n"
              "PwrOnHour=7\r\nPwrOnEnable=1\r\nActiveDay=126\r\n"
              "[Slot2]\r\nPwrOffMinute=59\r\nPwrOffHour=23\r\nPwrOffEnable=0\r\nPwrOnMinute=0\r\n"
              "PwrOnHour=9\r\nPwrOnEnable=0\r\nActiveDay=63\r\n");
}

INSTANTIATE_TEST_SUITE_P(Ways, BrimletWindowClosing, ::testing::Values(
    CloseWay{"Quit", [](MainForm &f) {
        QTest::mouseClick(widget<QPushButton>(&f, "btnSaveAndQuit"), Qt::LeftButton);
    }},
    CloseWay{"close()", [](MainForm &f) { f.close(); }},
    // the path a title bar's close button takes: a close request on the window
    CloseWay{"window close request", [](MainForm &f) { f.windowHandle()->close(); }}),
    [](const ::testing::TestParamInfo<CloseWay> &info) { return std::to_string(info.index); });

TEST_F(BrimletWindow, UnwritableSettingsFileIsNotFatal)
{
    // A folder in place of the file: the save fails, the exit still completes.
    ASSERT_TRUE(QDir().mkdir("Brimlet.ini"));
    auto form = std::make_unique<MainForm>();
    EXPECT_EQ(shownDays(slotView(*form, 1)), 127);
    form.reset();
    EXPECT_TRUE(QFileInfo("Brimlet.ini").isDir());
}

} // namespace
