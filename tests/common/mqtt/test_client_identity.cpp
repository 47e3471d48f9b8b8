// A program's broker identifier: stable where it must be (the same program,
// machine and settings folder), distinct where it must be, and within what
// MQTT 3.1 brokers take (23 characters, letters and digits).
#include "client_identity.h"
#include "temp_dir.h"

#include <QSet>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

bool acceptableToAnyBroker(const QString &id)
{
    if (id.isEmpty() || id.size() > 23)
        return false;
    for (const QChar c : id)
        if (!(c >= QLatin1Char('a') && c <= QLatin1Char('z')) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            return false;
    return true;
}

TEST(StableClientId, SameInputsSameIdAndEachPartCounts)
{
    const QByteArray machine = "3d1219c7c4c5404aaa1f6d2a48adfda4";
    const QString base = stableClientId(machine, "Tamsel", "/home/ops/.config/tamsel", 0);
    EXPECT_TRUE(acceptableToAnyBroker(base)) << base.toStdString();
    EXPECT_EQ(base.size(), 23);
    EXPECT_TRUE(base.startsWith("tamsel")) << base.toStdString();
    EXPECT_EQ(stableClientId(machine, "Tamsel", "/home/ops/.config/tamsel", 0), base);

    struct Change {
        const char *what;
        QString id;
    } changes[] = {
        {"machine", stableClientId("9f0e5a11b2c34d5e6f708192a3b4c5d6", "Tamsel", "/home/ops/.config/tamsel", 0)},
        {"program", stableClientId(machine, "Brimlet", "/home/ops/.config/tamsel", 0)},
        {"folder", stableClientId(machine, "Tamsel", "/home/ops/.config/tamsel2", 0)},
        {"instance", stableClientId(machine, "Tamsel", "/home/ops/.config/tamsel", 1)},
    };
    for (const Change &c : changes) {
        EXPECT_NE(c.id, base) << c.what;
        EXPECT_TRUE(acceptableToAnyBroker(c.id)) << c.what << ": " << c.id.toStdString();
    }
}

// Boards are usually set up alike: the same program in the same folder. Only
// the machine's id tells them apart, and it must, every time.
TEST(StableClientId, ThousandsOfMachinesWithTheSameFolderNeverCollide)
{
    QSet<QString> seen;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray machine = QByteArray::number(0x5eed0000u + unsigned(i), 16).rightJustified(32, '0');
        seen.insert(stableClientId(machine, "Tamsel", "/etc/tamsel", 0));
    }
    EXPECT_EQ(seen.size(), 5000);
}

TEST(ProgramClientId, TwoRunsAliveAtOnceGetTwoIdsAndALaterRunTakesTheFirst)
{
    // Slots are held by this process until it ends, so two calls stand for
    // two runs alive at once.
    halden::test::TempDir runtime("client-id-rt");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const QString first = programClientId("Idtest");
    const QString second = programClientId("Idtest");
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    EXPECT_TRUE(acceptableToAnyBroker(first)) << first.toStdString();
}

} // namespace
