// The tamsel and brimlet launchers on their own: where they keep the user's
// settings, and that every way they can fail says so in one line and exits
// non-zero (an autostarted agent that silently never starts is the worst).
// Each runs from a bin folder of its own beside a stand-in program that only
// says where it was started.
#include "run_program.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace halden::test;

namespace {

struct Launcher {
    const char *command;
    const char *program;
    const char *settings;
};

const Launcher kLaunchers[] = {{"tamsel", "Tamsel", "tamsel.ini"}, {"brimlet", "Brimlet", "Brimlet.ini"}};

struct LauncherCase {
    const char *name;
    // XDG_CONFIG_HOME as given ("@T" is the test folder; nullptr: unset).
    const char *xdgConfigHome;
    bool homeSet;
    // Prepares the user's files before the start.
    void (*prepare)(const std::string &root);
    // Where the program must have been started, under the test folder; "" when it must not start.
    const char *startedIn;
    const char *errorPart;  // in the one line on stderr
};

void nothing(const std::string &) {}

class LauncherStart : public ::testing::TestWithParam<LauncherCase> {};

TEST_P(LauncherStart, KeepsTheSettingsInTheUsersFolderOrSaysWhyNot)
{
    for (const Launcher &l : kLaunchers) {
        TempDir t("launcher");
        for (const char *sub : {"bin", "share", "home", "cwd"})
            mkdir(t.file(sub).c_str(), 0755);
        mkdir(t.file(std::string("share/") + l.command).c_str(), 0755);
        writeFile(t.file(std::string("share/") + l.command + "/" + l.settings + ".example"), "; example\n");
        writeFile(t.file(std::string("bin/") + l.command),
                  readFile(std::string(HALDEN_LAUNCHER_DIR) + "/" + l.command));
        writeFile(t.file(std::string("bin/") + l.program), "#!/bin/sh\npwd\n");
        chmod(t.file(std::string("bin/") + l.command).c_str(), 0755);
        chmod(t.file(std::string("bin/") + l.program).c_str(), 0755);
        GetParam().prepare(t.path());

        std::vector<std::string> env{"HOME=" + (GetParam().homeSet ? t.file("home") : std::string())};
        if (GetParam().xdgConfigHome) {
            std::string xdg = GetParam().xdgConfigHome;
            if (xdg.rfind("@T", 0) == 0)
                xdg = t.path() + xdg.substr(2);
            env.push_back("XDG_CONFIG_HOME=" + xdg);
        }
        // The launcher runs from a folder of its own, as a session starts it.
        const ProgramResult r =
            runProgram({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\"", t.file("cwd"), t.file(std::string("bin/") + l.command)},
                       env, 20000);
        const std::string where = std::string(GetParam().startedIn) == "" ? "" : t.file(GetParam().startedIn) + "/" + l.command;
        if (!where.empty()) {
            EXPECT_EQ(r.exitCode, 0) << l.command << ": " << r.err;
            EXPECT_EQ(r.out, where + "\n") << l.command;
            EXPECT_TRUE(fileExists(where + "/" + l.settings)) << l.command;
        } else {
            EXPECT_EQ(r.exitCode, 1) << l.command << ": " << r.out << r.err;
            EXPECT_EQ(r.out, "") << l.command << ": the program was started";
            EXPECT_EQ(r.err.rfind(std::string(l.command) + ": ", 0), 0u) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
        if (*GetParam().errorPart) {
            EXPECT_NE(r.err.find(GetParam().errorPart), std::string::npos) << l.command << ": " << r.err;
        }
        // A relative XDG_CONFIG_HOME must not grow a folder where the session stood.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.file("cwd")), {}), 0) << l.command;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LauncherStart,
    ::testing::Values(
        LauncherCase{"Unset", nullptr, true, nothing, "home/.config", "no settings yet"},
        LauncherCase{"Absolute", "@T/xdg", true, nothing, "xdg", "no settings yet"},
        LauncherCase{"RelativeIsIgnored", "relative/config", true, nothing, "home/.config", "no settings yet"},
        LauncherCase{"EmptyIsIgnored", "", true, nothing, "home/.config", "no settings yet"},
        LauncherCase{"NoHomeAndNoConfigHome", nullptr, false, nothing, "", "neither XDG_CONFIG_HOME nor HOME"},
        LauncherCase{"DanglingSettingsLink", nullptr, true,
                     [](const std::string &root) {
                         for (const char *folder : {"tamsel", "brimlet"}) {
                             const std::string dir = root + "/home/.config/" + folder;
                             std::filesystem::create_directories(dir);
                             const std::string file = std::string(folder) == "tamsel" ? "tamsel.ini" : "Brimlet.ini";
                             symlink((root + "/gone/settings.ini").c_str(), (dir + "/" + file).c_str());
                         }
                     },
                     "", "which does not exist: fix the link or remove it"},
        LauncherCase{"SettingsFolderCannotBeMade", "@T/a-file", true,
                     [](const std::string &root) { writeFile(root + "/a-file", ""); }, "",
                     "cannot create the settings folder"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
