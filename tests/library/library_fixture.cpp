#include "library_fixture.h"

#include <cstdio>
#include <ostream>

namespace orvel::test {

std::ostream &operator<<(std::ostream &out, const Transaction &t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%s(0x%02X, reg 0x%02X, data 0x%02X)", t.read ? "read" : "write", t.address,
                  t.reg, t.data);
    return out << text;
}

void LibraryTest::SetUp()
{
    resetStateForTests();
    fake().reset();
}

void LibraryTest::TearDown()
{
    resetStateForTests();
}

void LibraryTest::openVerified()
{
    ASSERT_EQ(ORVL_OpenInterface(), ORVL_OK);
    clearRecords();
}

void LibraryTest::clearRecords()
{
    fake().requests.clear();
    fake().pauses.clear();
    fake().debugLines.clear();
    fake().opens.clear();
    fake().closes.clear();
}

std::vector<Transaction> LibraryTest::transactions() const
{
    std::vector<Transaction> result;
    for (const Request &r : FakePlatform::instance().requests) {
        if (!r.isFirmwareCall() || r.function() != kStart)
            continue;
        const uint32_t ebx = r.sentReg(1), ecx = r.sentReg(2);
        result.push_back({((ebx >> 8) & 0xFF) == 1, uint8_t(ebx), uint8_t(ecx >> 8), uint8_t(ecx)});
    }
    return result;
}

} // namespace orvel::test
