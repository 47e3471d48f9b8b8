// INI settings store: verbatim lines, case-insensitive exact matching,
// insertion order, number reading, limits and the safe save.
#include "ini_store.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

using halden::test::fileExists;
using halden::test::readFile;
using halden::test::TempDir;
using halden::test::writeFile;

namespace {

std::string fixture(const std::string &name)
{
    return std::string(HALDEN_SOURCE_DIR) + "/tests/common/fixtures/" + name;
}

std::string crlf(std::string text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

class IniStore : public ::testing::Test {
protected:
    void TearDown() override { IniClose(); }

    // Loads `content` from a file of its own.
    void loadText(const std::string &content)
    {
        writeFile(dir.file("in.ini"), content);
        ASSERT_TRUE(IniLoad(dir.file("in.ini").c_str()));
    }

    std::string saved()
    {
        EXPECT_TRUE(IniSave(dir.file("out.ini").c_str()));
        return readFile(dir.file("out.ini"));
    }

    std::string get(const char *section, const char *key) { return IniGetString(section, key, "<default>"); }

    TempDir dir{"ini-test"};
};

TEST_F(IniStore, CrLfFileRoundTripsByteForByte)
{
    ASSERT_TRUE(IniLoad(fixture("roundtrip_crlf.ini").c_str()));
    EXPECT_EQ(saved(), readFile(fixture("roundtrip_crlf.ini")));
}

TEST_F(IniStore, LfFileIsWrittenBackWithCrLf)
{
    ASSERT_TRUE(IniLoad(fixture("roundtrip_lf.ini").c_str()));
    EXPECT_EQ(saved(), crlf(readFile(fixture("roundtrip_lf.ini"))));
}

TEST_F(IniStore, CarriageReturnIsNeverPartOfAValue)
{
    ASSERT_TRUE(IniLoad(fixture("roundtrip_crlf.ini").c_str()));
    EXPECT_EQ(get("General", "TopicToken"), "HALDEN");
    EXPECT_EQ(IniGetInt("General", "Port", 0), 1883);
}

TEST_F(IniStore, LowerCaseHeaderAndKeyMatchAndKeepTheirSpelling)
{
    ASSERT_TRUE(IniLoad(fixture("lower_case.ini").c_str()));
    // The value runs up to the comment, blank included.
    EXPECT_EQ(get("Slot1", "PwrOnHour"), "7 ");
    EXPECT_EQ(IniGetInt("SLOT1", "PWRONHOUR", 0), 7);
    IniSetInt("Slot1", "PwrOnHour", 8);
    IniSetInt("Slot1", "ActiveDay", 127);
    EXPECT_EQ(saved(), crlf("[slot1]\npwronhour=8; seven o'clock\nactiveday=127\n"));
}

TEST_F(IniStore, FirstOfDuplicateKeysIsReadAndReplaced)
{
    ASSERT_TRUE(IniLoad(fixture("duplicates.ini").c_str()));
    EXPECT_EQ(get("Slot1", "Port"), "1");
    IniSetString("Slot1", "Port", "9");
    EXPECT_EQ(saved(), crlf("[Slot1]\nPort=9\nPort=2\n[Slot2]\nLater=3\n"));
}

TEST_F(IniStore, KeyUnderALaterSectionIsNotFound)
{
    ASSERT_TRUE(IniLoad(fixture("duplicates.ini").c_str()));
    EXPECT_EQ(get("Slot1", "Later"), "<default>");
    EXPECT_EQ(get("Slot2", "Later"), "3");
    EXPECT_EQ(get("Slot3", "Later"), "<default>");
}

struct HeaderCase {
    const char *name;
    const char *header;
};

class IniHeaderVariants : public IniStore, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(IniHeaderVariants, DoNotMatchAndASetAppendsASecondHeader)
{
    const std::string header = GetParam().header;
    loadText(header + "\nPwrOnHour=7\n");
    EXPECT_EQ(get("Slot1", "PwrOnHour"), "<default>");
    IniSetInt("Slot1", "PwrOnHour", 8);
    EXPECT_EQ(saved(), crlf(header + "\nPwrOnHour=7\n[Slot1]\nPwrOnHour=8\n"));
    EXPECT_EQ(get("Slot1", "PwrOnHour"), "8");
}

INSTANTIATE_TEST_SUITE_P(Table, IniHeaderVariants,
                         ::testing::Values(HeaderCase{"LeadingBlank", " [Slot1]"},
                                           HeaderCase{"TrailingBlank", "[Slot1] "},
                                           HeaderCase{"TrailingComment", "[Slot1];note"},
                                           HeaderCase{"BlankAndComment", "[Slot1] ; note"}),
                         [](const auto &info) { return std::string(info.param.name); });

struct IntCase {
    const char *key;
    int expected;
};

class IniGetIntTable : public IniStore, public ::testing::WithParamInterface<IntCase> {};

TEST_P(IniGetIntTable, ReadsLikeStrtolBaseZero)
{
    ASSERT_TRUE(IniLoad(fixture("numbers.ini").c_str()));
    EXPECT_EQ(IniGetInt("General", GetParam().key, 4242), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, IniGetIntTable,
                         ::testing::Values(IntCase{"Hex", 16}, IntCase{"Octal", 8}, IntCase{"Empty", 0},
                                           IntCase{"Negative", -12}, IntCase{"Missing", 4242},
                                           // a blank before "=" makes another key
                                           IntCase{"Spaced", 4242},
                                           // out of 32-bit range saturates as a 32-bit strtol does
                                           IntCase{"Huge", INT_MAX}, IntCase{"BoolTrue", 0}),
                         [](const auto &info) { return std::string(info.param.key); });

TEST_F(IniStore, GetBoolReadsNumbersOnly)
{
    ASSERT_TRUE(IniLoad(fixture("numbers.ini").c_str()));
    EXPECT_FALSE(IniGetBool("General", "BoolTrue", true));
    EXPECT_TRUE(IniGetBool("General", "BoolOne", false));
    EXPECT_FALSE(IniGetBool("General", "BoolZero", true));
    EXPECT_TRUE(IniGetBool("General", "BoolSeven", false));
    EXPECT_TRUE(IniGetBool("General", "Missing", true));
    EXPECT_FALSE(IniGetBool("General", "Missing", false));
}

TEST_F(IniStore, SemicolonInAValueStartsTheComment)
{
    ASSERT_TRUE(IniLoad(fixture("numbers.ini").c_str()));
    EXPECT_EQ(get("General", "WithSemicolon"), "abc");
}

TEST_F(IniStore, EmptyValueIsNotTheDefault)
{
    ASSERT_TRUE(IniLoad(fixture("numbers.ini").c_str()));
    EXPECT_EQ(get("General", "Empty"), "");
}

TEST_F(IniStore, NewKeysStandInReverseOrderOfAdding)
{
    const char *keys[] = {"ActiveDay", "PwrOnEnable", "PwrOnHour", "PwrOnMinute",
                          "PwrOffEnable", "PwrOffHour", "PwrOffMinute"};
    EXPECT_FALSE(IniLoad(dir.file("missing.ini").c_str()));
    for (const char *section : {"Slot1", "Slot2"}) {
        for (const char *key : keys)
            IniSetString(section, key, key);
    }
    std::string expected;
    for (const char *section : {"Slot1", "Slot2"}) {
        expected += std::string("[") + section + "]\n";
        for (int i = 6; i >= 0; --i)
            expected += std::string(keys[i]) + "=" + keys[i] + "\n";
    }
    EXPECT_EQ(saved(), crlf(expected));
}

TEST_F(IniStore, KeyInsertedBehindALastHeaderBecomesTheLastLine)
{
    ASSERT_TRUE(IniLoad(fixture("header_last.ini").c_str()));
    IniSetString("Slot2", "B", "2");
    IniSetString("Slot3", "C", "3");
    EXPECT_EQ(saved(), crlf("[Slot1]\nA=1\n[Slot2]\nB=2\n[Slot3]\nC=3\n"));
}

TEST_F(IniStore, ValueWithBracketsBecomesAHeaderOnTheNextLoad)
{
    loadText("[Slot1]\n");
    IniSetString("Slot1", "Name", "[x]");
    EXPECT_EQ(get("Slot1", "Name"), "[x]");  // classified once, when read
    ASSERT_TRUE(IniSave(dir.file("out.ini").c_str()));
    ASSERT_TRUE(IniLoad(dir.file("out.ini").c_str()));
    EXPECT_EQ(get("Slot1", "Name"), "<default>");
}

TEST_F(IniStore, SaveKeepsTheDocumentLoaded)
{
    loadText("[A]\nk=v\n");
    ASSERT_TRUE(IniSave(dir.file("out.ini").c_str()));
    EXPECT_EQ(get("A", "k"), "v");
}

TEST_F(IniStore, MissingFileFailsWithAnEmptyDocumentAndDefaults)
{
    loadText("[A]\nk=v\n");
    const char *fallback = "fallback";
    EXPECT_FALSE(IniLoad(dir.file("nope.ini").c_str()));
    EXPECT_EQ(IniGetString("A", "k", fallback), fallback);
    EXPECT_EQ(IniGetInt("A", "k", -5), -5);
}

TEST_F(IniStore, NullArgumentsAreHarmless)
{
    loadText("[A]\nk=v\n");
    const char *fallback = "fallback";
    EXPECT_EQ(IniGetString(nullptr, "k", fallback), fallback);
    EXPECT_EQ(IniGetString("A", nullptr, fallback), fallback);
    EXPECT_EQ(IniGetString("A", "k", nullptr), nullptr);
    IniSetString(nullptr, "k", "x");
    IniSetString("A", nullptr, "x");
    IniSetString("A", "k", nullptr);
    EXPECT_EQ(get("A", "k"), "v");
    EXPECT_FALSE(IniLoad(nullptr));
}

TEST_F(IniStore, EmptyFileLoadsAsAnEmptyDocument)
{
    loadText("");
    EXPECT_EQ(saved(), "");
}

// A line the user wrote comes back as written, byte for byte: a long one stays
// one line (its tail never turns into a section or a key), a NUL inside is kept.
struct RoundTripCase {
    const char *name;
    std::string content;
};

class IniRoundTrip : public ::testing::TestWithParam<RoundTripCase> {
protected:
    void TearDown() override { IniClose(); }
    TempDir dir;
};

TEST_P(IniRoundTrip, UnchangedDocumentSavesByteForByte)
{
    writeFile(dir.file("in.ini"), GetParam().content);
    ASSERT_TRUE(IniLoad(dir.file("in.ini").c_str()));
    ASSERT_TRUE(IniSave(dir.file("out.ini").c_str()));
    EXPECT_EQ(readFile(dir.file("out.ini")), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IniRoundTrip,
    ::testing::Values(
        RoundTripCase{"Exactly254", crlf(std::string(254, 'e') + "\n")},
        RoundTripCase{"Long", crlf(std::string(300, 'l') + "\nlast\n")},
        RoundTripCase{"VeryLong", crlf("[A]\n" + std::string(70000, 'v') + "\n")},
        RoundTripCase{"LongCommentHoldingASection", crlf("[A]\n;" + std::string(260, 'c') + "[B]\nk=1\n")},
        RoundTripCase{"LongCommentHoldingAKey", crlf("[A]\n;" + std::string(260, 'c') + "Pwd=x\n")},
        RoundTripCase{"NulInAValue", crlf(std::string("[A]\nk=ab\0cd\n", 12))},
        RoundTripCase{"NulInAComment", crlf(std::string("[A]\n;\0[B]\n", 10))},
        RoundTripCase{"ByteOrderMark", crlf("\xEF\xBB\xBF[General]\nPwd=x\n")}),
    [](const ::testing::TestParamInfo<RoundTripCase> &info) { return std::string(info.param.name); });

// The tail of a long line is part of it, not a line of its own.
TEST_F(IniStore, TailOfALongLineIsNeverASectionOrAKey)
{
    loadText("[A]\n;" + std::string(260, 'c') + "[B]\n;" + std::string(260, 'c') + "k=tail\nk=real\n");
    EXPECT_EQ(get("A", "k"), "real");
    EXPECT_EQ(get("B", "k"), "<default>");
    // A name longer than any key never matches, cut or not.
    loadText("[A]\n" + std::string(300, 'n') + "=v\n");
    EXPECT_EQ(get("A", std::string(127, 'n').c_str()), "<default>");
}

// "UTF-8 with BOM" as a Windows editor saves it: the first section is found.
TEST_F(IniStore, ByteOrderMarkIsNotPartOfTheFirstLine)
{
    loadText("\xEF\xBB\xBF[General]\r\nPwd=secret\r\n");
    EXPECT_EQ(get("General", "Pwd"), "secret");
    IniSetString("General", "Port", "1883");
    EXPECT_EQ(saved(), "\xEF\xBB\xBF[General]\r\nPort=1883\r\nPwd=secret\r\n");
}

TEST_F(IniStore, OverLongValuesAreCutTo127Characters)
{
    const std::string value(200, 'v');
    loadText("[A]\nk=" + value + "\n");
    EXPECT_EQ(get("A", "k"), value.substr(0, 127));

    IniSetString("A", "n", value.c_str());
    EXPECT_EQ(get("A", "n"), value.substr(0, 127));
}

TEST_F(IniStore, ComposedLinesAreCutTo255Characters)
{
    const std::string comment = ";" + std::string(240, 'c');
    loadText("[A]\nk=1" + comment + "\n");
    IniSetString("A", "k", std::string(100, 'v').c_str());
    const std::string out = saved();
    const std::string expected = ("k=" + std::string(100, 'v') + comment).substr(0, 255);
    EXPECT_NE(out.find("\r\n" + expected + "\r\n"), std::string::npos);
}

TEST_F(IniStore, OverLongNamesAreRefusedNotCut)
{
    const std::string longKey(200, 'k');
    const std::string longSection(200, 's');
    loadText("[A]\n" + longKey.substr(0, 127) + "=short\n");
    // A cut key would address the 127-character key above.
    EXPECT_EQ(get("A", longKey.c_str()), "<default>");
    IniSetString("A", longKey.c_str(), "x");
    IniSetString(longSection.c_str(), "k", "x");
    EXPECT_EQ(saved(), crlf("[A]\n" + longKey.substr(0, 127) + "=short\n"));
    // The longest names that fit still work.
    IniSetString(longSection.substr(0, 129).c_str(), longKey.substr(0, 127).c_str(), "y");
    EXPECT_EQ(get(longSection.substr(0, 129).c_str(), longKey.substr(0, 127).c_str()), "y");
}

TEST_F(IniStore, SaveCreatesTheFileWhereNoneWas)
{
    EXPECT_FALSE(IniLoad(dir.file("Brimlet.ini").c_str()));
    IniSetInt("Slot1", "ActiveDay", 127);
    ASSERT_TRUE(IniSave(dir.file("Brimlet.ini").c_str()));
    EXPECT_EQ(readFile(dir.file("Brimlet.ini")), "[Slot1]\r\nActiveDay=127\r\n");
}

TEST_F(IniStore, SaveIntoAMissingFolderFailsAndDiscardsTheDocument)
{
    loadText("[A]\nk=v\n");
    EXPECT_FALSE(IniSave(dir.file("no/such/folder.ini").c_str()));
    EXPECT_EQ(get("A", "k"), "<default>");
}

// The write itself fails (file size limit), as a full disk would make it.
// The old file must survive whole and no temporary file may stay behind.
TEST_F(IniStore, FailingWriteLeavesTheOldFileUntouched)
{
    const std::string target = dir.file("Brimlet.ini");
    const std::string old = "[Slot1]\r\nActiveDay=62\r\n";
    writeFile(target, old);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (!IniLoad(target.c_str()))
            _exit(2);
        IniSetString("Slot1", "Payload", std::string(120, 'x').c_str());
        const bool savedOk = IniSave(target.c_str());
        const bool discarded = std::string(IniGetString("Slot1", "ActiveDay", "gone")) == "gone";
        _exit(!savedOk && discarded ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success or kept the document";
    EXPECT_EQ(readFile(target), old);
    int entries = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "a temporary file was left behind";
}

// A file the user made read-only is left as it is, as a plain write would
// leave it; the save reports the failure.
TEST_F(IniStore, ReadOnlyTargetIsLeftUntouched)
{
    const std::string target = dir.file("Brimlet.ini");
    writeFile(target, "[A]\r\nk=old\r\n");
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    // Root writes read-only files; the save runs as an ordinary user then.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0
            && (chown(dir.path().c_str(), 65534, 65534) != 0 || chown(target.c_str(), 65534, 65534) != 0
                || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        if (!IniLoad(target.c_str()))
            _exit(2);
        IniSetString("A", "k", "new");
        _exit(IniSave(target.c_str()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not fail (1) or could not run (2, 3)";
    EXPECT_EQ(readFile(target), "[A]\r\nk=old\r\n");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    int entries = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

// A settings file that is a link stays a link; its target is replaced, in its own folder.
TEST_F(IniStore, SaveThroughALinkReplacesItsTarget)
{
    std::filesystem::create_directory(dir.file("real"));
    const std::string real = dir.file("real/Brimlet.ini");
    const std::string link = dir.file("Brimlet.ini");
    writeFile(real, "[A]\r\nk=old\r\n");
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(IniLoad(link.c_str()));
    IniSetString("A", "k", "new");
    ASSERT_TRUE(IniSave(link.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real), "[A]\r\nk=new\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("real")), {}), 1);
}

TEST_F(IniStore, SaveKeepsTheFileMode)
{
    const std::string target = dir.file("tamsel.ini");
    writeFile(target, "[A]\r\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(IniLoad(target.c_str()));
    IniSetString("A", "k", "v");
    ASSERT_TRUE(IniSave(target.c_str()));
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// A new file gets the mode an ordinary create would give it under the
// process's umask; finding the umask out must not change it, even for a
// moment, while another thread creates files.
TEST_F(IniStore, NewFileFollowsTheUmaskWhichOtherThreadsKeepMeanwhile)
{
    const mode_t saved = umask(027);
    std::atomic<bool> stop{false};
    std::atomic<int> unmasked{0};
    std::thread creator([&] {
        for (int i = 0; !stop; ++i) {
            const std::string path = dir.file("other-" + std::to_string(i % 64));
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0)
                continue;
            struct stat st {};
            if (fstat(fd, &st) == 0 && (st.st_mode & 0777) != 0640)
                ++unmasked;
            close(fd);
            unlink(path.c_str());
        }
    });
    const std::string target = dir.file("new.ini");
    bool modesRight = true;
    for (int i = 0; i < 1500 && modesRight; ++i) {
        unlink(target.c_str());
        IniSetString("A", "k", "v");
        ASSERT_TRUE(IniSave(target.c_str()));
        struct stat st {};
        modesRight = stat(target.c_str(), &st) == 0 && (st.st_mode & 0777) == 0640;
    }
    stop = true;
    creator.join();
    umask(saved);
    EXPECT_TRUE(modesRight) << "a new settings file did not get 0666 under umask 027";
    EXPECT_EQ(unmasked, 0) << "files another thread created meanwhile got no umask";
}

} // namespace
