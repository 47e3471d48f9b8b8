// The version text: one transaction per character, a 16-byte buffer, and
// copies bounded by it.
#include <cstring>
#include <string>

#include "library_fixture.h"

namespace orvel::test {
namespace {

class VersionTest : public LibraryTest {
protected:
    void setText(const std::string &text)
    {
        for (size_t i = 0; i < 16; ++i)
            board().setReg(0xAE, uint8_t(i), i < text.size() ? uint8_t(text[i]) : 0);
    }
};

TEST_F(VersionTest, ReadsUpToAndIncludingTheZeroByte)
{
    openVerified();
    setText("ORV 1.07");
    char text[16] = {};
    EXPECT_EQ(ORVL_GetVersionString(text, 16), ORVL_OK);
    EXPECT_STREQ(text, "ORV 1.07");
    EXPECT_EQ(transactions().size(), 9u);
}

TEST_F(VersionTest, ZeroFirstRegisterTakesOneTransactionAndCopiesLength)
{
    openVerified();
    setText("");
    char text[8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(ORVL_GetVersionString(text, 4), ORVL_OK);
    EXPECT_EQ(transactions(), std::vector<Transaction>{rd(0x00)});
    EXPECT_EQ(state().versionBuffer[0], 0);
    EXPECT_EQ(std::string(text, 8), std::string("\0\0\0\0####", 8));
}

TEST_F(VersionTest, SixteenCharactersLeaveNoZeroByte)
{
    openVerified();
    setText("ABCDEFGHIJKLMNOP");
    char text[17] = {};
    EXPECT_EQ(ORVL_GetVersionString(text, 16), ORVL_OK);
    EXPECT_EQ(std::string(text), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(transactions().size(), 16u);
}

TEST_F(VersionTest, BytesAfterTheZeroStayFromEarlierCalls)
{
    openVerified();
    setText("LONGER-TEXT");
    char text[16];
    ASSERT_EQ(ORVL_GetVersionString(text, 16), ORVL_OK);
    setText("V2");
    ASSERT_EQ(ORVL_GetVersionString(text, 16), ORVL_OK);
    EXPECT_EQ(std::string(text, 11), std::string("V2\0GER-TEXT", 11));
}

struct LengthCase {
    const char *name;
    int32_t length;
    size_t copied;
};

class VersionLengthTest : public VersionTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(VersionLengthTest, CopiesNoMoreThanTheBufferHolds)
{
    openVerified();
    setText("ABCDEFGHIJKLMNOP");
    char text[40];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(ORVL_GetVersionString(text, GetParam().length), ORVL_OK);
    const std::string expected = std::string("ABCDEFGHIJKLMNOP").substr(0, GetParam().copied) +
                                 std::string(sizeof text - GetParam().copied, '#');
    EXPECT_EQ(std::string(text, sizeof text), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, VersionLengthTest,
                         ::testing::Values(LengthCase{"Zero", 0, 0}, LengthCase{"Five", 5, 5},
                                           LengthCase{"Sixteen", 16, 16}, LengthCase{"Seventeen", 17, 16},
                                           LengthCase{"Forty", 40, 16}, LengthCase{"Negative", -1, 0},
                                           LengthCase{"MostNegative", INT32_MIN, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(VersionTest, FailureCopiesNothingAndKeepsTheBytesRead)
{
    openVerified();
    setText("XYZ");
    // The third character never finishes.
    fake().swallow = [this](const Request &r) {
        return r.function() == kDoneQuery && fake().countCalls(kStart) >= 3;
    };
    char text[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(ORVL_GetVersionString(text, 4), ORVL_ERR_TIMEOUT);
    EXPECT_EQ(std::string(text, 4), "####");
    EXPECT_EQ(state().versionBuffer[0], 'X');
    EXPECT_EQ(state().versionBuffer[1], 'Y');
    EXPECT_EQ(state().versionBuffer[2], 0xFF);
}

TEST_F(VersionTest, NullTextWithNothingToCopyIsFine)
{
    openVerified();
    setText("A");
    EXPECT_EQ(ORVL_GetVersionString(nullptr, 0), ORVL_OK);
}

} // namespace
} // namespace orvel::test
