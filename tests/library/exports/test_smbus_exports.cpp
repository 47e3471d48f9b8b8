// Raw SMBus access and the protected addresses.
#include "library_fixture.h"

namespace orvel::test {
namespace {

struct WriteCase {
    const char *name;
    int32_t address;
    bool isProtected;
};

class SMBusWriteTest : public LibraryTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(SMBusWriteTest, RefusesOnlyProtectedAddresses)
{
    const WriteCase &c = GetParam();
    openVerified();
    const uint8_t value = 0x77;
    if (c.isProtected) {
        EXPECT_EQ(ORVL_SMBusWrite(c.address, 0x10, &value), ORVL_ERR_PROTECTED);
        EXPECT_TRUE(fake().requests.empty());
        EXPECT_TRUE(fake().pauses.empty());
    } else {
        EXPECT_EQ(ORVL_SMBusWrite(c.address, 0x10, &value), ORVL_OK);
        EXPECT_EQ(transactions(), std::vector<Transaction>{wr(0x10, 0x77, uint8_t(c.address))});
    }
}

INSTANTIATE_TEST_SUITE_P(Addresses, SMBusWriteTest,
                         ::testing::Values(WriteCase{"A0", 0xA0, true}, WriteCase{"A3", 0xA3, true},
                                           WriteCase{"A7", 0xA7, true}, WriteCase{"AE", 0xAE, true},
                                           // Only the low 8 bits count.
                                           WriteCase{"HighBitsA0", 0x1A0, true},
                                           WriteCase{"NegativeAE", int32_t(0xFFFFFFAE), true},
                                           WriteCase{"9F", 0x9F, false}, WriteCase{"A8", 0xA8, false},
                                           WriteCase{"AD", 0xAD, false}, WriteCase{"AF", 0xAF, false},
                                           WriteCase{"HighBits50", 0x150, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(LibraryTest, SMBusReadReachesTheControllerToo)
{
    openVerified();
    board().setReg(0xAE, 0x80, 0x66);
    uint8_t value = 0;
    EXPECT_EQ(ORVL_SMBusRead(0xAE, 0x80, &value), ORVL_OK);
    EXPECT_EQ(value, 0x66);
    EXPECT_EQ(transactions(), std::vector<Transaction>{rd(0x80)});
}

TEST_F(LibraryTest, SMBusReadUsesTheLowBitsOfAddressAndRegister)
{
    openVerified();
    uint8_t value = 0;
    EXPECT_EQ(ORVL_SMBusRead(0x3A0, 0x105, &value), ORVL_OK);
    EXPECT_EQ(transactions(), std::vector<Transaction>{rd(0x05, 0xA0)});
}

} // namespace
} // namespace orvel::test
