#include "schedule_view.h"

#include "command_handler.h"
#include "command_message.h"
#include "fakes.h"
#include "test_artifact.h"
#include "ui_mainform.h"

#include <QMainWindow>
#include <QSpacerItem>

#include <gtest/gtest.h>

namespace {

class TamselStatusWindow : public ::testing::Test {
protected:
    void SetUp() override { ui.setupUi(&window); }

    QList<QCheckBox *> days(int slot)
    {
        if (slot == 1)
            return {ui.cbRTS1_Sun, ui.cbRTS1_Mon, ui.cbRTS1_Tue, ui.cbRTS1_Wed, ui.cbRTS1_Thu, ui.cbRTS1_Fri, ui.cbRTS1_Sat};
        return {ui.cbRTS2_Sun, ui.cbRTS2_Mon, ui.cbRTS2_Tue, ui.cbRTS2_Wed, ui.cbRTS2_Thu, ui.cbRTS2_Fri, ui.cbRTS2_Sat};
    }
    int dayMask(int slot)
    {
        int mask = 0;
        const QList<QCheckBox *> boxes = days(slot);
        for (int bit = 0; bit < boxes.size(); ++bit)
            mask |= boxes[bit]->isChecked() ? (1 << bit) : 0;
        return mask;
    }

    QMainWindow window;
    Ui::MainFormClass ui;
};

TEST_F(TamselStatusWindow, WindowSettings)
{
    EXPECT_EQ(window.objectName(), QStringLiteral("MainFormClass"));
    EXPECT_EQ(window.size(), QSize(631, 397));
    EXPECT_EQ(window.font().family(), QStringLiteral("Century Gothic"));
    EXPECT_EQ(window.font().pointSize(), 10);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Tamsel"));
    EXPECT_EQ(window.centralWidget(), ui.centralWidget);
    EXPECT_EQ(ui.gridLayout->spacing(), 6);
    EXPECT_EQ(ui.gridLayout->contentsMargins(), QMargins(11, 11, 11, 11));
    EXPECT_EQ(ui.gridLayout->itemAtPosition(0, 0)->layout(), ui.verticalLayout_5);
}

TEST_F(TamselStatusWindow, TextsAndClasses)
{
    struct Text {
        const char *object;
        const char *className;
        const char *text;
    };
    const Text texts[] = {
        {"label", "QLabel", "Network Topic"},         {"label_2", "QLabel", "Network Status"},
        {"label_3", "QLabel", "Orvel Support"},       {"label_4", "QLabel", "EDID Emulator"},
        {"labMessageTopic", "QLabel", "labMessageTopic"}, {"labMessageStatus", "QLabel", "labMessageStatus"},
        {"labORVL", "QLabel", "labORVL"},             {"labEdidEmulator", "QLabel", "labEdidEmulator"},
        {"labHSpacer", "QLabel", ""},                 {"labRTS1", "QLabel", "Remote TimeSlot 1"},
        {"labRTS2", "QLabel", "Remote TimeSlot 2"},   {"gbRTS1ActiveDays", "QGroupBox", "Active Days"},
        {"gbRTS2ActiveDays", "QGroupBox", "Active Days"}, {"gbRTS1_PwrOn", "QGroupBox", "Power On"},
        {"gbRTS1_PwrOff", "QGroupBox", "Power Off"},  {"gbRTS2_PwrOn", "QGroupBox", "Power On"},
        {"gbRTS2_PwrOff", "QGroupBox", "Power Off"},  {"cbRTS1_Sun", "QCheckBox", "Sun"},
        {"cbRTS1_Sat", "QCheckBox", "Sat"},           {"cbRTS2_Wed", "QCheckBox", "Wed"},
        {"tebRTS1_PwrOn", "QTimeEdit", ""},           {"tebRTS2_PwrOff", "QTimeEdit", ""},
    };
    for (const Text &t : texts) {
        QWidget *w = window.findChild<QWidget *>(QString::fromLatin1(t.object));
        ASSERT_NE(w, nullptr) << t.object;
        EXPECT_STREQ(w->metaObject()->className(), t.className) << t.object;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_EQ(label->text(), QString::fromLatin1(t.text)) << t.object;
        }
        if (auto *box = qobject_cast<QGroupBox *>(w)) {
            EXPECT_EQ(box->title(), QString::fromLatin1(t.text)) << t.object;
        }
    }
    EXPECT_EQ(ui.labHSpacer->frameShape(), QFrame::HLine);
    EXPECT_TRUE(ui.labRTS1->font().bold());
    EXPECT_EQ(ui.labRTS1->font().weight(), 75);
    EXPECT_EQ(ui.labRTS2->font(), ui.labRTS1->font());
}

TEST_F(TamselStatusWindow, NestingOfLayouts)
{
    auto contains = [](QLayout *layout, QObject *item) {
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *it = layout->itemAt(i);
            if (it->widget() == item || it->layout() == item)
                return i;
        }
        return -1;
    };
    EXPECT_EQ(contains(ui.verticalLayout_5, ui.horizontalLayout_16), 0);
    EXPECT_EQ(contains(ui.verticalLayout_5, ui.labHSpacer), 1);
    EXPECT_EQ(contains(ui.verticalLayout_5, ui.horizontalLayout_15), 2);
    EXPECT_EQ(contains(ui.horizontalLayout_16, ui.verticalLayout_3), 0);
    EXPECT_EQ(contains(ui.horizontalLayout_16, ui.verticalLayout_4), 1);
    EXPECT_EQ(contains(ui.verticalLayout_4, ui.labEdidEmulator), 3);
    EXPECT_EQ(contains(ui.horizontalLayout_15, ui.verticalLayout), 0);
    EXPECT_EQ(contains(ui.horizontalLayout_15, ui.verticalLayout_2), 1);
    EXPECT_EQ(contains(ui.horizontalLayout_6, ui.cbRTS1_Wed), 3);
    EXPECT_EQ(contains(ui.horizontalLayout_5, ui.cbRTS1_Thu), 0);
    EXPECT_EQ(contains(ui.horizontalLayout_12, ui.cbRTS2_Sat), 2);
    EXPECT_EQ(contains(ui.horizontalLayout, ui.gbRTS1_PwrOff), 1);
    EXPECT_EQ(contains(ui.horizontalLayout_9, ui.tebRTS1_PwrOn), 0);
    EXPECT_EQ(contains(ui.horizontalLayout_14, ui.tebRTS2_PwrOff), 0);
    EXPECT_EQ(ui.gridLayout_7->itemAtPosition(1, 0)->layout(), ui.horizontalLayout_5);
    EXPECT_EQ(ui.gridLayout_10->itemAtPosition(0, 0)->layout(), ui.horizontalLayout_14);
    EXPECT_EQ(ui.gbRTS2_PwrOff->layout(), ui.gridLayout_10);
    EXPECT_EQ(ui.gridLayout_8->contentsMargins(), QMargins(11, 11, 11, 11));
    EXPECT_EQ(ui.horizontalLayout_13->itemAt(1)->spacerItem()->sizeHint(), QSize(50, 20));
    EXPECT_EQ(ui.horizontalLayout_6->itemAt(4)->spacerItem()->sizeHint(), QSize(18, 20));
    EXPECT_EQ(ui.verticalLayout_3->itemAt(4)->spacerItem()->sizeHint(), QSize(20, 13));
}

TEST_F(TamselStatusWindow, InitialStateIsDisabledAndEmpty)
{
    for (QGroupBox *box : {ui.gbRTS1ActiveDays, ui.gbRTS1_PwrOn, ui.gbRTS1_PwrOff, ui.gbRTS2ActiveDays,
                           ui.gbRTS2_PwrOn, ui.gbRTS2_PwrOff}) {
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    }
    for (QGroupBox *box : {ui.gbRTS1_PwrOn, ui.gbRTS1_PwrOff, ui.gbRTS2_PwrOn, ui.gbRTS2_PwrOff}) {
        EXPECT_TRUE(box->isCheckable());
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(dayMask(1), 0);
    EXPECT_EQ(dayMask(2), 0);
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(9, 0));
    EXPECT_EQ(ui.tebRTS1_PwrOff->time(), QTime(21, 0));
    EXPECT_EQ(ui.tebRTS2_PwrOn->time(), QTime(9, 0));
    EXPECT_EQ(ui.tebRTS2_PwrOff->time(), QTime(21, 0));
    EXPECT_EQ(ui.tebRTS1_PwrOn->displayFormat(), QStringLiteral("hh:mm"));
    EXPECT_EQ(ui.tebRTS1_PwrOn->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    EXPECT_EQ(ui.tebRTS1_PwrOff->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    EXPECT_EQ(ui.tebRTS2_PwrOn->sizePolicy(), QTimeEdit().sizePolicy());
}

TEST_F(TamselStatusWindow, ShowScheduleFillsOnlyItsSlot)
{
    ScheduleView view(ui);
    view.showSchedule(1, ScheduleRecord {8, 30, 18, 0, 3, 62});
    EXPECT_EQ(dayMask(1), 62);
    EXPECT_TRUE(ui.gbRTS1_PwrOn->isChecked());
    EXPECT_TRUE(ui.gbRTS1_PwrOff->isChecked());
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(8, 30));
    EXPECT_EQ(ui.tebRTS1_PwrOff->time(), QTime(18, 0));
    EXPECT_EQ(dayMask(2), 0);
    EXPECT_EQ(ui.tebRTS2_PwrOn->time(), QTime(9, 0));

    view.showSchedule(2, ScheduleRecord {23, 59, 0, 1, 2, 65});
    EXPECT_EQ(dayMask(2), 65);
    EXPECT_FALSE(ui.gbRTS2_PwrOn->isChecked());
    EXPECT_TRUE(ui.gbRTS2_PwrOff->isChecked());
    EXPECT_EQ(ui.tebRTS2_PwrOn->time(), QTime(23, 59));
    EXPECT_EQ(ui.tebRTS2_PwrOff->time(), QTime(0, 1));
    EXPECT_EQ(dayMask(1), 62); // slot 1 untouched

    // A time outside the clock keeps what was shown; the rest still updates.
    view.showSchedule(1, ScheduleRecord {25, 0, 18, 60, 1, 1});
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(8, 30));
    EXPECT_EQ(ui.tebRTS1_PwrOff->time(), QTime(18, 0));
    EXPECT_EQ(dayMask(1), 1);
    EXPECT_TRUE(ui.gbRTS1_PwrOn->isChecked());
    EXPECT_FALSE(ui.gbRTS1_PwrOff->isChecked());

    for (int slot : {0, 3, -1})
        view.showSchedule(slot, ScheduleRecord {1, 1, 1, 1, 3, 127});
    EXPECT_EQ(dayMask(1), 1);
    EXPECT_EQ(dayMask(2), 65);
}

// A slot whose record is not known shows no values (its days and times are
// left out; the widgets are display-only, always greyed), and only that slot;
// the next record shown brings them back.
TEST_F(TamselStatusWindow, AnUnknownSlotShowsNoValuesUntilARecordIsShown)
{
    ScheduleView view(ui);
    view.showSchedule(1, ScheduleRecord {8, 30, 18, 0, 3, 62});
    view.showUnknown(1);
    for (QWidget *w : {static_cast<QWidget *>(ui.gbRTS1ActiveDays), static_cast<QWidget *>(ui.gbRTS1_PwrOn),
                       static_cast<QWidget *>(ui.gbRTS1_PwrOff)})
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
    EXPECT_FALSE(ui.labRTS1->isHidden()) << "the slot's title stays";
    EXPECT_FALSE(ui.gbRTS2ActiveDays->isHidden());
    EXPECT_FALSE(ui.gbRTS2_PwrOn->isHidden());
    view.showUnknown(7); // no such slot: nothing
    view.showSchedule(1, ScheduleRecord {9, 0, 17, 0, 3, 62});
    EXPECT_FALSE(ui.gbRTS1ActiveDays->isHidden());
    EXPECT_FALSE(ui.gbRTS1_PwrOn->isHidden());
    EXPECT_FALSE(ui.gbRTS1_PwrOff->isHidden());
    EXPECT_EQ(dayMask(1), 62);
}

TEST_F(TamselStatusWindow, HideSchedulesLeavesStatusLines)
{
    ScheduleView view(ui);
    window.show();
    view.hideSchedules();
    const QList<QWidget *> hidden = {ui.labHSpacer,   ui.labRTS1,      ui.gbRTS1ActiveDays,
                                     ui.gbRTS1_PwrOn, ui.gbRTS2_PwrOff, ui.labRTS2};
    for (QWidget *w : hidden)
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_TRUE(ui.labORVL->isVisible());
    EXPECT_TRUE(ui.label_4->isVisible());
}

// The window as an operator sees it after a SLOT1 command, kept as an artefact.
TEST_F(TamselStatusWindow, ScreenshotAfterSlot1Command)
{
    ScheduleView view(ui);
    FakeScheduleStore store;
    FakeEdidSender edid;
    CommandHandler handler(QStringLiteral("operator"), store, view, edid);
    ui.labMessageTopic->setText(QStringLiteral("HALDEN"));
    ui.labMessageStatus->setText(QStringLiteral("Connected"));
    ui.labORVL->setText(QStringLiteral("Yes"));
    ui.labEdidEmulator->setText(QStringLiteral("Yes"));

    SlotValues slot;
    slot.activeDay = 62;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = 8;
    slot.pwrOnMinute = 30;
    slot.pwrOffEnable = true;
    slot.pwrOffHour = 18;
    handler.handle(composeSlotCommand(QStringLiteral("SLOT1"), slot, QStringLiteral("operator")).toUtf8(),
                   QStringLiteral("HALDEN"));
    ASSERT_EQ(store.writes.size(), 1u);
    EXPECT_EQ(dayMask(1), 62);
    EXPECT_EQ(ui.tebRTS1_PwrOn->time(), QTime(8, 30));

    ASSERT_TRUE(saveWindowScreenshot(window, QStringLiteral("tamsel-form-slot1.png")));
}

} // namespace
