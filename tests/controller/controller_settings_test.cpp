#include <gtest/gtest.h>
#include <string>

#include "controller_settings.h"
#include "temp_dir.h"

namespace {

using halden::test::TempDir;
using halden::test::readFile;
using halden::test::writeFile;

void expectSlot(const SlotSettings &s, int activeDay, bool onEnable, int onHour, int onMinute,
                bool offEnable, int offHour, int offMinute)
{
    EXPECT_EQ(s.activeDay, activeDay);
    EXPECT_EQ(s.pwrOnEnable, onEnable);
    EXPECT_EQ(s.pwrOnHour, onHour);
    EXPECT_EQ(s.pwrOnMinute, onMinute);
    EXPECT_EQ(s.pwrOffEnable, offEnable);
    EXPECT_EQ(s.pwrOffHour, offHour);
    EXPECT_EQ(s.pwrOffMinute, offMinute);
}

TEST(BrimletSettings, MissingFileGivesDefaults)
{
    TempDir dir("brimlet-settings");
    const ControllerSettings s = loadSettings(dir.file("Brimlet.ini").c_str());
    EXPECT_EQ(s.host, "127.0.0.1");
    EXPECT_EQ(s.port, 1883);
    EXPECT_EQ(s.topicToken, "HALDEN");
    expectSlot(s.timeSlot1, 127, true, 9, 0, true, 21, 0);
    expectSlot(s.timeSlot2, 127, true, 9, 0, true, 21, 0);
    EXPECT_FALSE(halden::test::fileExists(dir.file("Brimlet.ini")));
}

struct SlotCase {
    const char *lines; // keys of section "Slot1"
    int activeDay;
    bool onEnable;
    int onHour, onMinute;
    bool offEnable;
    int offHour, offMinute;
};

class BrimletSlotLoading : public ::testing::TestWithParam<SlotCase> {};

TEST_P(BrimletSlotLoading, ReadsAndRangeChecks)
{
    const SlotCase &c = GetParam();
    TempDir dir("brimlet-settings");
    writeFile(dir.file("Brimlet.ini"), std::string("[Slot1]\r\n") + c.lines);
    const ControllerSettings s = loadSettings(dir.file("Brimlet.ini").c_str());
    expectSlot(s.timeSlot1, c.activeDay, c.onEnable, c.onHour, c.onMinute, c.offEnable, c.offHour, c.offMinute);
    expectSlot(s.timeSlot2, 127, true, 9, 0, true, 21, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, BrimletSlotLoading, ::testing::Values(
    SlotCase{"PwrOnHour=24\r\n", 127, true, 9, 0, true, 21, 0},
    SlotCase{"PwrOnHour=-1\r\n", 127, true, 9, 0, true, 21, 0},
    SlotCase{"PwrOnHour=23\r\nPwrOnMinute=59\r\n", 127, true, 23, 59, true, 21, 0},
    SlotCase{"PwrOffHour=30\r\n", 127, true, 9, 0, true, 21, 0},
    SlotCase{"PwrOnMinute=60\r\nPwrOffMinute=75\r\n", 127, true, 9, 0, true, 21, 0},
    SlotCase{"PwrOffHour=22\r\nPwrOffMinute=75\r\n", 127, true, 9, 0, true, 22, 0},
    // low 8 bits first: 263 is 7, a valid hour
    SlotCase{"PwrOnHour=263\r\n", 127, true, 7, 0, true, 21, 0},
    SlotCase{"ActiveDay=0x41\r\n", 0x41, true, 9, 0, true, 21, 0},
    SlotCase{"ActiveDay=255\r\n", 255, true, 9, 0, true, 21, 0},
    SlotCase{"ActiveDay=0\r\n", 0, true, 9, 0, true, 21, 0},
    SlotCase{"PwrOnEnable=0\r\nPwrOffEnable=1\r\n", 127, false, 9, 0, false, 21, 0},
    SlotCase{"PwrOnEnable=1\r\nPwrOffEnable=0\r\n", 127, true, 9, 0, false, 21, 0},
    SlotCase{"PwrOnEnable=true\r\n", 127, false, 9, 0, false, 21, 0},
    SlotCase{"PwrOnHour=abc\r\nPwrOffHour=7pm\r\n", 127, true, 0, 0, true, 7, 0}));

struct GeneralCase {
    const char *lines;
    const char *host;
    int port;
    const char *topic;
};

class BrimletGeneralLoading : public ::testing::TestWithParam<GeneralCase> {};

TEST_P(BrimletGeneralLoading, ReadsBrokerSettings)
{
    const GeneralCase &c = GetParam();
    TempDir dir("brimlet-settings");
    writeFile(dir.file("Brimlet.ini"), std::string("[General]\r\n") + c.lines);
    const ControllerSettings s = loadSettings(dir.file("Brimlet.ini").c_str());
    EXPECT_EQ(s.host, QString::fromUtf8(c.host));
    EXPECT_EQ(s.port, c.port);
    EXPECT_EQ(s.topicToken, QString::fromUtf8(c.topic));
}

INSTANTIATE_TEST_SUITE_P(Table, BrimletGeneralLoading, ::testing::Values(
    GeneralCase{"Port=0x75B\r\n", "127.0.0.1", 1883, "HALDEN"},
    GeneralCase{"Port=67419\r\n", "127.0.0.1", 1883, "HALDEN"},
    GeneralCase{"Host=::1\r\nPort=1884\r\nTopicToken=site/a\r\n", "::1", 1884, "site/a"},
    GeneralCase{"TopicToken=\r\n", "127.0.0.1", 1883, ""},
    GeneralCase{"Host=h\xC3\xA4st\r\n", "h\xC3\xA4st", 1883, "HALDEN"}));

TEST(BrimletSettings, SaveIntoEmptyFolderWritesBothSlotsInStoreOrder)
{
    TempDir dir("brimlet-settings");
    ControllerSettings s;
    s.timeSlot2.activeDay = 34;
    s.timeSlot2.pwrOnEnable = false;
    s.timeSlot2.pwrOffEnable = false;
    s.timeSlot2.pwrOnHour = 7;
    s.timeSlot2.pwrOnMinute = 30;
    s.timeSlot2.pwrOffHour = 18;
    s.timeSlot2.pwrOffMinute = 5;
    ASSERT_TRUE(saveSettings(s, dir.file("Brimlet.ini").c_str()));
    EXPECT_EQ(readFile(dir.file("Brimlet.ini")),
              "[Slot1]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=1\r\nPwrOnMinute=0\r\n"
              "PwrOnHour=9\r\nPwrOnEnable=1\r\nActiveDay=127\r\n"
              "[Slot2]\r\nPwrOffMinute=5\r\nPwrOffHour=18\r\nPwrOffEnable=0\r\nPwrOnMinute=30\r\n"
              "PwrOnHour=7\r\nPwrOnEnable=0\r\nActiveDay=34\r\n");
}

TEST(BrimletSettings, SaveKeepsOtherLinesAndReplacesValuesInPlace)
{
    TempDir dir("brimlet-settings");
    writeFile(dir.file("Brimlet.ini"),
              "; site broker\n[General]\nHost=127.0.0.1\nPort=1884\n\n"
              "[Slot1]\nactiveday=5 ; workdays later\nUnknown=x\n");
    ControllerSettings s = loadSettings(dir.file("Brimlet.ini").c_str());
    EXPECT_EQ(s.timeSlot1.activeDay, 5);
    s.timeSlot1.activeDay = 62;
    ASSERT_TRUE(saveSettings(s, dir.file("Brimlet.ini").c_str()));
    EXPECT_EQ(readFile(dir.file("Brimlet.ini")),
              "; site broker\r\n[General]\r\nHost=127.0.0.1\r\nPort=1884\r\n\r\n"
              "[Slot1]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=1\r\nPwrOnMinute=0\r\n"
              "PwrOnHour=9\r\nPwrOnEnable=1\r\nactiveday=62; workdays later\r\nUnknown=x\r\n"
              "[Slot2]\r\nPwrOffMinute=0\r\nPwrOffHour=21\r\nPwrOffEnable=1\r\nPwrOnMinute=0\r\n"
              "PwrOnHour=9\r\nPwrOnEnable=1\r\nActiveDay=127\r\n");
}

TEST(BrimletSettings, SaveIntoMissingFolderReportsFailure)
{
    TempDir dir("brimlet-settings");
    ControllerSettings s;
    EXPECT_FALSE(saveSettings(s, dir.file("no/such/folder/Brimlet.ini").c_str()));
}

} // namespace

// The broker log-in keys are read, kept in the record, and a save writes
// back the file as it was apart from the slot sections: nothing new in
// "General", the secret left where the user put it.
TEST(BrimletSettings, BrokerLoginKeysAreReadAndNeverWrittenBack)
{
    TempDir dir;
    const std::string path = dir.file("Brimlet.ini");
    const std::string general =
        "[General]\r\nHost=127.0.0.1\r\nMqttUser=op\r\nMqttPassword=pa55\r\nMqttCaFile=ca.crt\r\n";
    writeFile(path, general);
    ControllerSettings s = loadSettings(path.c_str());
    EXPECT_EQ(s.security.user, "op");
    EXPECT_EQ(s.security.password, "pa55");
    EXPECT_EQ(s.security.caFile, "ca.crt");
    s.security.password = "changed";  // a record change is never saved
    ASSERT_TRUE(saveSettings(s, path.c_str()));
    const std::string saved = readFile(path);
    EXPECT_EQ(saved.rfind(general, 0), 0u) << saved;
    EXPECT_EQ(saved.find("changed"), std::string::npos);

    // Without the keys: no log-in, no TLS, and none added by a save.
    writeFile(path, "[General]\r\nHost=127.0.0.1\r\n");
    s = loadSettings(path.c_str());
    EXPECT_TRUE(s.security.user.isEmpty() && s.security.password.isEmpty() && s.security.caFile.isEmpty());
    ASSERT_TRUE(saveSettings(s, path.c_str()));
    EXPECT_EQ(readFile(path).find("Mqtt"), std::string::npos);
}
