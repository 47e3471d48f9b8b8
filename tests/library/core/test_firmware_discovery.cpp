// The scan for the firmware table and the service check.
#include "core/firmware_discovery.h"
#include "library_fixture.h"

namespace orvel::test {
namespace {

struct ScanCase {
    const char *name;
    bool tablePresent;
    uint32_t tableAddress;
    uint32_t returnedCount;
    bool found;
    size_t probes;
};

class ScanTest : public LibraryTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanTest, FindsOnlyAnAlignedTableInsideTheWindow)
{
    const ScanCase &c = GetParam();
    kmui::BoardConfig config;
    config.tablePresent = c.tablePresent;
    config.tableAddress = c.tableAddress;
    config.returnedCount = c.returnedCount;
    config.callPort = 0xB3;
    config.callCode = 0xEE;
    useBoard(config);

    const int32_t status = ORVL_OpenInterface();

    EXPECT_EQ(fake().physicalReads(), c.probes);
    const LibraryState &s = state();
    if (c.found) {
        EXPECT_EQ(s.callPort, 0xB3);
        EXPECT_EQ(s.callCode, 0xEE);
        EXPECT_EQ(status, ORVL_OK);
    } else {
        // Defaults stay, and the firmware does not answer on them: the check decides.
        EXPECT_EQ(s.callPort, 0xB2);
        EXPECT_EQ(s.callCode, 0xED);
        EXPECT_EQ(status, ORVL_ERR_NOT_VERIFIED);
    }

    // Every probe asks for the next 16-byte step with 256 and 7.
    size_t k = 0;
    for (const Request &r : fake().requests) {
        if (r.controlCode != kmui::kPhysicalReadCode)
            continue;
        ASSERT_EQ(r.sent.size(), kmui::kPhysicalReadSize);
        EXPECT_EQ(r.sent[0] | r.sent[1] << 8 | r.sent[2] << 16 | uint32_t(r.sent[3]) << 24, 0xE0000u + 16 * k);
        EXPECT_EQ(r.sent[4] | r.sent[5] << 8, 256);
        EXPECT_EQ(r.sent[6] | r.sent[7] << 8 | r.sent[8] << 16 | uint32_t(r.sent[9]) << 24, 7u);
        ++k;
    }
}

INSTANTIATE_TEST_SUITE_P(Scan, ScanTest,
                         ::testing::Values(
                             ScanCase{"NoTable", false, 0xE8A40, 7, false, 4096},
                             ScanCase{"FirstProbe", true, 0xE0000, 7, true, 1},
                             ScanCase{"LastProbe", true, 0xEFFF0, 7, true, 4096},
                             ScanCase{"Middle", true, 0xE8A40, 7, true, 0x8A4 + 1},
                             ScanCase{"Unaligned", true, 0xE8A48, 7, false, 4096},
                             ScanCase{"CountEight", true, 0xE8A40, 8, true, 0x8A4 + 1},
                             ScanCase{"CountAboveWindow", true, 0xE8A40, 1024, true, 0x8A4 + 1},
                             ScanCase{"CountHuge", true, 0xE8A40, 0xFFFFFFFFu, true, 0x8A4 + 1},
                             // Call code byte 6 never refreshed: the window's stale bytes cannot match "$ORV".
                             ScanCase{"CountTooShort", true, 0xE8A40, 3, false, 4096}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, DefaultsReachTheFirmwareWhenTheyMatch)
{
    kmui::BoardConfig config;
    config.tablePresent = false;
    config.callPort = 0xB2;
    config.callCode = 0xED;
    useBoard(config);

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(fake().physicalReads(), 4096u);
}

TEST_F(LibraryTest, ServiceCheckSendsPortCodeAndZeroRegisters)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);

    ASSERT_EQ(fake().countCalls(0), 1u);
    const Request &check = fake().requests.back();
    ASSERT_TRUE(check.isFirmwareCall());
    ASSERT_EQ(check.sent.size(), kmui::kFirmwareCallSize);
    EXPECT_EQ(check.sent[0], board().config().callPort);
    EXPECT_EQ(check.sent[1], board().config().callCode);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(check.sentReg(i), 0u) << "register " << i;
    EXPECT_TRUE(state().firmwareVerified);
}

TEST_F(LibraryTest, ServiceCheckWritesItsTwoDebugLines)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    const std::vector<std::string> expected = {
        "ORVL_ServiceCheck", "EAX=0x00000000, EBX=0x70479315, ECX=0x00000001, EDX=0x00000000,\n"};
    EXPECT_EQ(fake().debugLines, expected);
}

TEST_F(LibraryTest, FailingServiceCheckReturnsTwoAndStillWritesItsLines)
{
    kmui::BoardConfig config;
    config.serviceCheckFails = true;
    useBoard(config);

    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NOT_VERIFIED);
    EXPECT_FALSE(state().firmwareVerified);
    ASSERT_EQ(fake().debugLines.size(), 2u);
    EXPECT_EQ(fake().debugLines[0], "ORVL_ServiceCheck");
    EXPECT_EQ(fake().debugLines[1], "EAX=0x00000000, EBX=0x00000000, ECX=0x00000000, EDX=0x00000000,\n");

    // Nothing is sent while the firmware is not verified.
    clearRecords();
    uint8_t value = 0x5A;
    EXPECT_EQ(ORVL_SMBusRead(0xAE, 0x19, &value), ORVL_ERR_NOT_VERIFIED);
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(fake().pauses.empty());
}

TEST_F(LibraryTest, ServiceCheckWithoutSessionReturnsOne)
{
    EXPECT_EQ(ORVL_ServiceCheck(), ORVL_ERR_NO_SESSION);
    EXPECT_TRUE(fake().requests.empty());
    EXPECT_TRUE(fake().debugLines.empty());
}

TEST_F(LibraryTest, VerificationSurvivesCloseAndAFailingRecheck)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);

    kmui::BoardConfig config;
    config.serviceCheckFails = true;
    useBoard(config);
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_ERR_NOT_VERIFIED);

    uint8_t value = 0;
    EXPECT_EQ(ORVL_SMBusRead(0xAE, 0x19, &value), ORVL_OK);
}

TEST_F(LibraryTest, FoundCallParametersSurviveCloseAndAFruitlessScan)
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    ASSERT_EQ(ORVL_CloseInterface(), ORVL_OK);

    kmui::BoardConfig config;
    config.tablePresent = false;
    useBoard(config);
    // The board still answers on the port and code found before.
    EXPECT_EQ(ORVL_OpenInterface(), ORVL_OK);
    EXPECT_EQ(state().callCode, config.callCode);
}

} // namespace
} // namespace orvel::test
