// Command texts, password digest and the reading rules of received commands.
#include "command_message.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct DigestCase {
    const char *name;
    QString password;
    const char *expected;  // "%x" per byte, no padding
};

class PasswordDigest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(PasswordDigest, RendersEachByteWithoutPadding)
{
    EXPECT_EQ(passwordDigest(GetParam().password).toStdString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PasswordDigest,
    ::testing::Values(
        // MD5 of zero bytes: d41d8cd98f00b204e9800998ecf8427e
        DigestCase{"Empty", QString(), "d41d8cd98f0b24e980998ecf8427e"},
        DigestCase{"Ascii", QStringLiteral("secret"), "5ebe2294ecd0e0f08eab7690d2a6ee69"},
        DigestCase{"Latin1", QString::fromUtf8("p\xC3\xA4ssw\xC3\xB6rd"), "12841e4ba5e37d2fbfc78458c6714ade"},
        // a8105204604a0b11e916f3879aae3b0b: bytes 0x04, 0x0b, 0x0b lose their zero
        DigestCase{"Cjk", QString::fromUtf8("\xE5\xAF\x86\xE7\xA0\x81"), "a810524604ab11e916f3879aae3bb"},
        // 9ebf565a6a68e302d437550454c2000f: bytes 0x00 and 0x0f render as one digit
        DigestCase{"ZeroAndFifteen", QStringLiteral("pw432"), "9ebf565a6a68e32d43755454c20f"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PasswordDigestLength, ShortWhenBytesAreBelowSixteen)
{
    EXPECT_LT(passwordDigest(QStringLiteral("pw432")).size(), 32);
    EXPECT_NE(passwordDigest(QStringLiteral("pw432")), QStringLiteral("9ebf565a6a68e302d437550454c2000f"));
}

TEST(ComposeSlotCommand, MondayToFridayExampleByteForByte)
{
    SlotValues slot;
    slot.activeDay = 62;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = 8;
    slot.pwrOnMinute = 30;
    slot.pwrOffEnable = true;
    slot.pwrOffHour = 18;
    slot.pwrOffMinute = 0;
    EXPECT_EQ(composeSlotCommand("SLOT1", slot, "secret").toStdString(),
              "{  \"CMD\": \"SLOT1\",  \"ACTIVE_DAY\": 62,  \"PWRON_ENABLE\": 1,  \"PWRON_HOUR\": 8,  "
              "\"PWRON_MINUTE\": 30,  \"PWROFF_ENABLE\": 1,  \"PWROFF_HOUR\": 18,  \"PWROFF_MINUTE\": 0,  "
              "\"PWD\": \"5ebe2294ecd0e0f08eab7690d2a6ee69\" }");
}

TEST(ComposeSlotCommand, WritesUnsignedValuesAndDisabledTimes)
{
    SlotValues slot;
    slot.activeDay = 65535;
    slot.pwrOnEnable = false;
    slot.pwrOnHour = 255;
    slot.pwrOnMinute = 7;
    slot.pwrOffEnable = false;
    slot.pwrOffHour = 18;
    slot.pwrOffMinute = 5;
    EXPECT_EQ(composeSlotCommand("SLOT2", slot, QString()).toStdString(),
              "{  \"CMD\": \"SLOT2\",  \"ACTIVE_DAY\": 65535,  \"PWRON_ENABLE\": 0,  \"PWRON_HOUR\": 255,  "
              "\"PWRON_MINUTE\": 7,  \"PWROFF_ENABLE\": 0,  \"PWROFF_HOUR\": 18,  \"PWROFF_MINUTE\": 5,  "
              "\"PWD\": \"d41d8cd98f0b24e980998ecf8427e\" }");
}

TEST(ComposeEdidCommand, ShortTemplate)
{
    EXPECT_EQ(composeEdidCommand("secret").toStdString(),
              "{  \"CMD\": \"EDID\",  \"PWD\": \"5ebe2294ecd0e0f08eab7690d2a6ee69\" }");
}

TEST(ComposedCommands, ReadBackThroughTheReader)
{
    SlotValues slot;
    slot.activeDay = 127;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = 7;
    slot.pwrOnMinute = 30;
    slot.pwrOffHour = 18;
    slot.pwrOffMinute = 5;
    const CommandReader reader(composeSlotCommand("SLOT1", slot, "pw").toLocal8Bit());
    ASSERT_TRUE(reader.parsed());
    EXPECT_EQ(reader.text("CMD"), "SLOT1");
    EXPECT_EQ(reader.number("ACTIVE_DAY"), 127);
    EXPECT_EQ(reader.number("PWRON_ENABLE"), 1);
    EXPECT_EQ(reader.number("PWROFF_ENABLE"), 0);
    EXPECT_EQ(reader.number("PWROFF_MINUTE"), 5);
    EXPECT_EQ(reader.text("PWD"), passwordDigest("pw"));
}

struct ReadCase {
    const char *name;
    const char *payload;
    bool parsed;
    const char *cmd;     // "CMD" as read
    const char *pwd;     // "PWD" as read
    const char *numberKey;
    qint32 number;
};

class CommandReading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CommandReading, FollowsTheReadingRules)
{
    const ReadCase &c = GetParam();
    const CommandReader reader(QByteArray(c.payload));
    EXPECT_EQ(reader.parsed(), c.parsed);
    EXPECT_EQ(reader.text("CMD").toStdString(), c.cmd);
    EXPECT_EQ(reader.text("PWD").toStdString(), c.pwd);
    EXPECT_EQ(reader.number(c.numberKey), c.number);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandReading,
    ::testing::Values(
        ReadCase{"Plain", R"({"CMD":"SLOT1","PWD":"ab","PWRON_HOUR":8})", true, "SLOT1", "ab", "PWRON_HOUR", 8},
        ReadCase{"MissingKeys", R"({})", true, "", "", "PWRON_HOUR", 0},
        ReadCase{"StringWhereNumberBelongs", R"({"PWRON_HOUR":"8"})", true, "", "", "PWRON_HOUR", 0},
        ReadCase{"BooleanTrue", R"({"PWRON_ENABLE":true})", true, "", "", "PWRON_ENABLE", 0},
        ReadCase{"Null", R"({"PWRON_ENABLE":null})", true, "", "", "PWRON_ENABLE", 0},
        ReadCase{"Fraction", R"({"PWRON_HOUR":8.5})", true, "", "", "PWRON_HOUR", 0},
        ReadCase{"WholeWithDecimalPoint", R"({"PWRON_HOUR":8.0})", true, "", "", "PWRON_HOUR", 8},
        ReadCase{"Exponent", R"({"ACTIVE_DAY":1e2})", true, "", "", "ACTIVE_DAY", 100},
        ReadCase{"Negative", R"({"ACTIVE_DAY":-1})", true, "", "", "ACTIVE_DAY", -1},
        ReadCase{"LargestInt", R"({"ACTIVE_DAY":2147483647})", true, "", "", "ACTIVE_DAY", INT_MAX},
        ReadCase{"SmallestInt", R"({"ACTIVE_DAY":-2147483648})", true, "", "", "ACTIVE_DAY", INT_MIN},
        ReadCase{"AboveRange", R"({"ACTIVE_DAY":2147483648})", true, "", "", "ACTIVE_DAY", 0},
        ReadCase{"BelowRange", R"({"ACTIVE_DAY":-2147483649})", true, "", "", "ACTIVE_DAY", 0},
        ReadCase{"HugeNumber", R"({"ACTIVE_DAY":1e300})", true, "", "", "ACTIVE_DAY", 0},
        ReadCase{"ArrayAsNumber", R"({"ACTIVE_DAY":[1]})", true, "", "", "ACTIVE_DAY", 0},
        ReadCase{"PwdAsNumber", R"({"CMD":"EDID","PWD":123})", true, "EDID", "", "PWD", 123},
        ReadCase{"LowerCaseKeys", R"({"cmd":"SLOT1","pwd":"ab","pwron_hour":8})", true, "", "", "PWRON_HOUR", 0},
        ReadCase{"TopLevelArray", R"([{"CMD":"SLOT1","PWD":"ab"}])", true, "", "", "CMD", 0},
        // Qt's parser takes only an object or an array at the top level.
        ReadCase{"TopLevelString", R"("SLOT1")", false, "", "", "CMD", 0},
        ReadCase{"InvalidJson", R"({"CMD":"SLOT1",)", false, "", "", "CMD", 0},
        ReadCase{"NotJsonAtAll", "hello", false, "", "", "CMD", 0},
        ReadCase{"ReorderedKeysAndWhiteSpace",
                 "\n{\r\n\t\"PWRON_MINUTE\" :  30 ,\n \"PWD\":\"ab\",\n\n \"CMD\"  :\"SLOT2\"\n}\n", true,
                 "SLOT2", "ab", "PWRON_MINUTE", 30},
        ReadCase{"UnknownKeysIgnored", R"({"CMD":"EDID","EXTRA":{"a":1},"PWD":"ab"})", true, "EDID", "ab",
                 "EXTRA", 0},
        // A member named twice, at any depth and however it is spelt, makes the
        // payload unreadable: Qt's parser leaks the first value of such a pair.
        ReadCase{"NameTwice", R"({"CMD":"SLOT1","PWD":"ab","CMD":"EDID"})", false, "", "", "CMD", 0},
        ReadCase{"NameTwiceWithAnObject", R"({"X":{"a":1},"X":1,"CMD":"EDID"})", false, "", "", "X", 0},
        ReadCase{"NameTwiceNested", R"({"CMD":"EDID","E":[{"a":[1],"a":2}]})", false, "", "", "CMD", 0},
        ReadCase{"NameTwiceEscaped", R"({"CMD":"EDID","CMD":"SLOT1"})", false, "", "", "CMD", 0},
        ReadCase{"SameNameInSiblingObjects", R"({"CMD":"EDID","A":{"k":1},"B":{"k":2}})", true, "EDID", "", "CMD",
                 0},
        ReadCase{"NameLikeTextInAString", R"({"CMD":"x\",\"CMD\":1","PWD":"ab"})", true, "x\",\"CMD\":1", "ab",
                 "CMD", 0},
        // JSON's escapes are read; any other escaped byte makes the payload
        // unreadable (Qt 5 would turn an escaped byte of 0x80 or above into
        // text that is not Unicode).
        ReadCase{"JsonEscapes", R"({"CMD":"a\"\\\/\b\f\n\r\t\u0041","PWD":"ab"})", true, "a\"\\/\b\f\n\r\tA", "ab",
                 "CMD", 0},
        ReadCase{"ForeignEscape", R"({"CMD":"SLO\:","PWD":"ab"})", false, "", "", "CMD", 0},
        // A \u escape that names no character (half a surrogate pair) likewise.
        ReadCase{"LoneLowSurrogateInAName", R"({"\uDCA5":5,"CMD":"EDID"})", false, "", "", "CMD", 0},
        ReadCase{"LoneHighSurrogate", R"({"CMD":"\uD800x","PWD":"ab"})", false, "", "", "CMD", 0},
        ReadCase{"SurrogatePair", R"({"CMD":"\uD83D\uDE00","PWD":"ab"})", true, "\xF0\x9F\x98\x80", "ab", "CMD", 0},
        ReadCase{"EscapedHighByte", "{\"CMD\":\"\\\xa4\",\"PWD\":\"ab\"}", false, "", "", "CMD", 0}),
    [](const auto &info) { return std::string(info.param.name); });

// Names that differ only after a NUL are two names, not one given twice.
TEST(CommandReadingNames, ANulInANameDoesNotCutIt)
{
    const QByteArray payload("{\"CMD\":\"EDID\",\"X\":1,\"X\0y\":2,\"PWD\":\"ab\"}", 39);
    const CommandReader reader(payload);
    EXPECT_TRUE(reader.parsed());
    EXPECT_EQ(reader.text("CMD"), QStringLiteral("EDID"));
    EXPECT_EQ(reader.number("X"), 1);
}

} // namespace
