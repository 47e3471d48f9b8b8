// ORVEL.DLL, cross-built for 32-bit Windows, exports each function under its
// plain name and its decorated stdcall name, both at the same code.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>

namespace {

struct Export {
    const char *name;
    int argumentBytes;
};

const Export kExports[] = {
    {"ORVL_OpenInterface", 0},   {"ORVL_CloseInterface", 0}, {"ORVL_GetVersionString", 8},
    {"ORVL_GetFeatureBitmap", 4}, {"ORVL_GetRTC", 4},         {"ORVL_SetRTC", 4},
    {"ORVL_GetPwrResume", 4},    {"ORVL_SetPwrResume", 4},   {"ORVL_GetSchedule1", 4},
    {"ORVL_GetSchedule2", 4},    {"ORVL_GetSchedule3", 4},   {"ORVL_GetSchedule4", 4},
    {"ORVL_SetSchedule3", 4},    {"ORVL_SetSchedule4", 4},   {"ORVL_SMBusRead", 12},
    {"ORVL_SMBusWrite", 12},     {"ORVL_GetMiscCtrl", 4},    {"ORVL_SetMiscCtrl", 4},
    {"ORVL_SetPwrOnAfterShutdownTick", 4},
};

// Export name -> code address, read from the DLL's export table.
std::map<std::string, std::string> readExportTable()
{
    const std::string command = std::string(ORVEL_MINGW_OBJDUMP) + " -p '" + ORVEL_MINGW_DLL + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        text.append(chunk, n);
    pclose(pipe);

    // "[   4] +base[   5] 2300 Export RVA" and, later, "[   4] ORVL_GetRTC".
    std::map<int, std::string> addresses;
    std::map<std::string, std::string> names;
    const std::regex addressLine(R"(\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA)");
    const std::regex nameLine(R"(^\s*\[\s*(\d+)\] (\S+)\s*$)");
    const size_t nameTable = text.find("[Ordinal/Name Pointer] Table");
    if (nameTable == std::string::npos)
        return {};
    const std::string addressPart = text.substr(0, nameTable);
    for (std::sregex_iterator it(addressPart.begin(), addressPart.end(), addressLine), end; it != end; ++it)
        addresses[std::stoi((*it)[1])] = (*it)[2];
    std::string line;
    size_t at = text.find('\n', nameTable);
    while (at != std::string::npos && at + 1 < text.size()) {
        const size_t next = text.find('\n', at + 1);
        line = text.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        std::smatch m;
        if (!std::regex_match(line, m, nameLine))
            break;
        names[m[2]] = addresses.count(std::stoi(m[1])) ? addresses[std::stoi(m[1])] : "?";
        at = next;
    }
    return names;
}

class DllExportTest : public ::testing::TestWithParam<Export> {
protected:
    static void SetUpTestSuite() { table_ = readExportTable(); }
    static std::map<std::string, std::string> table_;
};
std::map<std::string, std::string> DllExportTest::table_;

TEST_P(DllExportTest, PlainAndDecoratedNamesReachTheSameCode)
{
    const std::string plain = GetParam().name;
    const std::string decorated = "_" + plain + "@" + std::to_string(GetParam().argumentBytes);
    ASSERT_TRUE(table_.count(plain)) << plain << " missing";
    ASSERT_TRUE(table_.count(decorated)) << decorated << " missing";
    EXPECT_EQ(table_[plain], table_[decorated]);
}

INSTANTIATE_TEST_SUITE_P(Exports, DllExportTest, ::testing::ValuesIn(kExports),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DllExportTable, ListsExactlyTheThirtyEightNames)
{
    const auto table = readExportTable();
    EXPECT_EQ(table.size(), 2 * std::size(kExports));
    for (const auto &entry : table)
        EXPECT_EQ(entry.first.find("ORVL_") == 0 || entry.first.find("_ORVL_") == 0, true) << entry.first;
}

} // namespace
