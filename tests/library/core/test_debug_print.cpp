// Debug output formatting and its buffer limit.
#include <string>

#include "core/debug_print.h"
#include "library_fixture.h"

namespace orvel::test {
namespace {

TEST_F(LibraryTest, DebugPrintFormatsLikePrintf)
{
    debugPrint("EAX=0x%.8X, %s", 0x1234u, "end");
    ASSERT_EQ(fake().debugLines.size(), 1u);
    EXPECT_EQ(fake().debugLines[0], "EAX=0x00001234, end");
}

TEST_F(LibraryTest, DebugPrintCutsOutputLongerThanItsBuffer)
{
    const std::string longText(2 * kDebugBufferSize, 'x');
    debugPrint("%s", longText.c_str());
    ASSERT_EQ(fake().debugLines.size(), 1u);
    EXPECT_EQ(fake().debugLines[0], std::string(kDebugBufferSize - 1, 'x'));
}

} // namespace
} // namespace orvel::test
