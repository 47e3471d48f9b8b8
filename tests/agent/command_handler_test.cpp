#include "command_handler.h"

#include "command_message.h"
#include "debug_capture.h"
#include "fakes.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

#include <optional>

namespace {

const char agentPwd[] = "s3cret";

QByteArray slotText(const char *cmd, const QString &digest, const QString &fields)
{
    return QStringLiteral("{\"CMD\": \"%1\", %2 \"PWD\": \"%3\"}")
        .arg(QLatin1String(cmd), fields, digest)
        .toUtf8();
}

const QString weekdays830to1800 = QStringLiteral(
    "\"ACTIVE_DAY\": 62, \"PWRON_ENABLE\": 1, \"PWRON_HOUR\": 8, \"PWRON_MINUTE\": 30, "
    "\"PWROFF_ENABLE\": 1, \"PWROFF_HOUR\": 18, \"PWROFF_MINUTE\": 0,");

struct HandlerCase {
    const char *name;
    QByteArray payload;
    bool libraryAvailable;
    bool edidOpen;
    // Expected effects.
    std::optional<ScheduleWrite> write; // also what the display must have been shown
    int edidSequences;
    int diagnosticLines;
};

std::ostream &operator<<(std::ostream &out, const HandlerCase &c) { return out << c.name; }

std::vector<HandlerCase> cases()
{
    const QString good = passwordDigest(QString::fromLatin1(agentPwd));
    const QString bad = passwordDigest(QStringLiteral("wrong"));
    const ScheduleRecord weekdays {8, 30, 18, 0, 3, 62};
    return {
        {"Slot1Accepted", slotText("SLOT1", good, weekdays830to1800), true, true, ScheduleWrite {1, weekdays}, 0, 2},
        {"Slot2ReachesScheduleFourOnly", slotText("SLOT2", good, weekdays830to1800), true, true,
         ScheduleWrite {2, weekdays}, 0, 2},
        {"WrongDigestDropped", slotText("SLOT1", bad, weekdays830to1800), true, true, std::nullopt, 0, 2},
        {"ZeroPaddedDigestDropped",
         slotText("SLOT1", QString::fromLatin1(QCryptographicHash::hash(agentPwd, QCryptographicHash::Md5).toHex()),
                  weekdays830to1800),
         true, true, std::nullopt, 0, 2},
        {"MissingDigestDropped",
         QByteArray("{\"CMD\": \"SLOT1\", ") + weekdays830to1800.chopped(1).toUtf8() + "}", true, true,
         std::nullopt, 0, 2},
        {"DigestAsNumberDropped", QByteArray("{\"CMD\": \"EDID\", \"PWD\": 1234}"), true, true, std::nullopt, 0, 2},
        {"LowerCaseCommandIgnored", slotText("slot1", good, weekdays830to1800), true, true, std::nullopt, 0, 2},
        {"UnknownCommandIgnored", slotText("SLOT3", good, weekdays830to1800), true, true, std::nullopt, 0, 2},
        {"ActiveDayKeepsSevenBits", slotText("SLOT1", good, "\"ACTIVE_DAY\": 255,"), true, true,
         ScheduleWrite {1, {0, 0, 0, 0, 0, 127}}, 0, 2},
        {"PowerOnEnableAnyNonZero", slotText("SLOT1", good, "\"PWRON_ENABLE\": 5,"), true, true,
         ScheduleWrite {1, {0, 0, 0, 0, 1, 0}}, 0, 2},
        {"PowerOnEnableBooleanReadsZero", slotText("SLOT1", good, "\"PWRON_ENABLE\": true, \"PWROFF_ENABLE\": 1,"),
         true, true, ScheduleWrite {1, {0, 0, 0, 0, 2, 0}}, 0, 2},
        {"HourOutsideClockReachesController", slotText("SLOT1", good, "\"PWRON_HOUR\": 25, \"PWRON_MINUTE\": 61,"),
         true, true, ScheduleWrite {1, {25, 61, 0, 0, 0, 0}}, 0, 2},
        {"HourKeepsLowEightBits", slotText("SLOT1", good, "\"PWRON_HOUR\": 264, \"PWROFF_HOUR\": -1,"), true, true,
         ScheduleWrite {1, {8, 0, 255, 0, 0, 0}}, 0, 2},
        {"MissingFieldsReadZero",
         slotText("SLOT2", good, "\"ACTIVE_DAY\": 1, \"PWRON_ENABLE\": 1, \"PWRON_HOUR\": 7, \"PWRON_MINUTE\": 5,"),
         true, true, ScheduleWrite {2, {7, 5, 0, 0, 1, 1}}, 0, 2},
        {"FractionAndStringReadZero",
         slotText("SLOT1", good, "\"PWRON_HOUR\": 7.5, \"PWRON_MINUTE\": \"30\", \"ACTIVE_DAY\": 4294967296,"), true,
         true, ScheduleWrite {1, {0, 0, 0, 0, 0, 0}}, 0, 2},
        {"LibraryUnavailableIgnoresSchedule", slotText("SLOT1", good, weekdays830to1800), false, true, std::nullopt,
         0, 2},
        {"EdidWithPortOpen", slotText("EDID", good, ""), true, true, std::nullopt, 1, 2},
        {"EdidWithPortClosed", slotText("EDID", good, ""), true, false, std::nullopt, 0, 2},
        {"EdidWithoutLibraryStillSent", slotText("EDID", good, ""), false, true, std::nullopt, 1, 2},
        {"EdidWrongDigest", slotText("EDID", bad, ""), true, true, std::nullopt, 0, 2},
        {"JsonArrayDroppedAfterDiagnostics", QByteArray("[\"SLOT1\", 1, 2]"), true, true, std::nullopt, 0, 2},
        {"InvalidJsonSilent", QByteArray("{\"CMD\": \"SLOT1\", "), true, true, std::nullopt, 0, 0},
        {"EmptyPayloadSilent", QByteArray(), true, true, std::nullopt, 0, 0},
    };
}

class CommandHandlerTable : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(CommandHandlerTable, ActsOnlyAsAllowed)
{
    const HandlerCase &c = GetParam();
    FakeScheduleStore store;
    store.available = c.libraryAvailable;
    FakeScheduleDisplay display;
    FakeEdidSender edid;
    edid.open = c.edidOpen;
    CommandHandler handler(QString::fromLatin1(agentPwd), store, display, edid);

    DebugCapture debug;
    handler.handle(c.payload, QStringLiteral("site/board7"));

    ASSERT_EQ(debug.lines.size(), c.diagnosticLines) << debug.lines.join('|').toStdString();
    if (c.diagnosticLines == 2) {
        EXPECT_EQ(debug.lines[0], QStringLiteral("slot_mtsBranchReceived::payload.size = %1").arg(c.payload.size()));
        EXPECT_EQ(debug.lines[1], QStringLiteral("slot_mtsBranchReceived::topic = site/board7"));
    }

    if (c.write) {
        ASSERT_EQ(store.writes.size(), 1u);
        EXPECT_EQ(store.writes[0].slot, c.write->slot);
        EXPECT_TRUE(store.writes[0].record == c.write->record);
        ASSERT_EQ(display.shown.size(), 1u);
        EXPECT_EQ(display.shown[0].slot, c.write->slot);
        EXPECT_TRUE(display.shown[0].record == c.write->record);
    } else {
        EXPECT_TRUE(store.writes.empty());
        EXPECT_TRUE(display.shown.empty());
    }
    EXPECT_EQ(edid.sequences, c.edidSequences);
}

INSTANTIATE_TEST_SUITE_P(TamselCommands, CommandHandlerTable, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<HandlerCase> &info) { return info.param.name; });

// The window must show the new values before the slow controller write starts.
class OrderRecorder : public ScheduleStore, public ScheduleDisplay {
public:
    bool canWriteSchedule(int) const override { return true; }
    bool writeSchedule(int, const ScheduleRecord &) override
    {
        events.push_back("write");
        return true;
    }
    bool readSchedule(int, ScheduleRecord &record) override
    {
        record = {};
        return true;
    }
    void showSchedule(int, ScheduleRecord) override { events.push_back("show"); }
    void showUnknown(int) override { events.push_back("unknown"); }
    std::vector<std::string> events;
};

TEST(TamselCommandHandler, ShowsBeforeWriting)
{
    OrderRecorder recorder;
    FakeEdidSender edid;
    CommandHandler handler(QStringLiteral("pw"), recorder, recorder, edid);
    handler.handle(composeSlotCommand(QStringLiteral("SLOT1"), SlotValues {}, QStringLiteral("pw")).toUtf8(),
                   QStringLiteral("t"));
    EXPECT_EQ(recorder.events, (std::vector<std::string> {"show", "write"}));
}

// An agent without a password would take the digest of the empty text from
// anyone: it refuses every command and says why, each time.
TEST(TamselCommandHandler, EmptyPasswordRefusesEveryCommand)
{
    FakeScheduleStore store;
    FakeScheduleDisplay display;
    FakeEdidSender edid;
    CommandHandler handler(QString(), store, display, edid);
    DebugCapture debug;
    handler.handle(composeSlotCommand(QStringLiteral("SLOT2"), SlotValues {}, QString()).toUtf8(), QStringLiteral("t"));
    handler.handle(composeEdidCommand(QString()).toUtf8(), QStringLiteral("t"));
    handler.handle(composeEdidCommand(QStringLiteral("anything")).toUtf8(), QStringLiteral("t"));
    EXPECT_TRUE(store.writes.empty());
    EXPECT_TRUE(display.shown.empty());
    EXPECT_EQ(edid.sequences, 0);
    EXPECT_EQ(debug.lines.filter(QStringLiteral("Refused a command: no password is set (Pwd in tamsel.ini)")).size(),
              3);
}

// A write the controller did not take: the window goes back to what it holds.
TEST(TamselCommandHandler, FailedWriteShowsWhatTheControllerHolds)
{
    FakeScheduleStore store;
    store.writeWorks = false;
    store.held = ScheduleRecord {1, 2, 3, 4, 3, 5};
    FakeScheduleDisplay display;
    FakeEdidSender edid;
    CommandHandler handler(QString::fromLatin1(agentPwd), store, display, edid);
    DebugCapture debug;
    handler.handle(slotText("SLOT1", passwordDigest(QString::fromLatin1(agentPwd)), weekdays830to1800),
                   QStringLiteral("t"));
    ASSERT_EQ(display.shown.size(), 2u);
    EXPECT_TRUE(display.shown[0].record == (ScheduleRecord {8, 30, 18, 0, 3, 62}));  // first, as sent
    EXPECT_TRUE(display.shown[1].record == store.held);                              // then, as held
    EXPECT_EQ(debug.lines.filter(QStringLiteral("Writing time slot 1 to the controller failed")).size(), 1);
    EXPECT_TRUE(display.unknown.empty());
}

// The board gone in the middle of the write: it cannot be read either, so the
// window shows the slot as unknown, neither as sent nor as zeros.
TEST(TamselCommandHandler, FailedWriteOfAControllerThatCannotBeReadShowsTheSlotUnknown)
{
    FakeScheduleStore store;
    store.writeWorks = false;
    store.readWorks = false;
    FakeScheduleDisplay display;
    FakeEdidSender edid;
    CommandHandler handler(QString::fromLatin1(agentPwd), store, display, edid);
    DebugCapture debug;
    handler.handle(slotText("SLOT2", passwordDigest(QString::fromLatin1(agentPwd)), weekdays830to1800),
                   QStringLiteral("t"));
    ASSERT_EQ(display.shown.size(), 1u) << "only the values as sent, before the write";
    EXPECT_EQ(display.unknown, std::vector<int>{2});
    EXPECT_EQ(debug.lines.filter(QStringLiteral("cannot be read; the slot is shown as unknown")).size(), 1);
}

} // namespace
