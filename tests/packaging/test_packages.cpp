// The five Debian packages as a site gets them: their control fields, what
// each holds, and, unpacked with dpkg into a throw-away root, the agent
// started by its autostart entry's command, taking a command from a broker
// into the board that the installed library starts by itself.
#include "mosquitto_broker.h"
#include "run_program.h"
#include "tamsel_process.h"
#include "temp_dir.h"
#include "wait_for.h"

#include "command_message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace halden::test;

namespace {

const std::string kPackages = HALDEN_PACKAGES_DIR;
const std::string kLibDir = HALDEN_MULTIARCH_LIBDIR;  // e.g. lib/x86_64-linux-gnu

std::string debOf(const std::string &package)
{
    for (const auto &entry : std::filesystem::directory_iterator(kPackages)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(package + "_", 0) == 0 && entry.path().extension() == ".deb")
            return entry.path().string();
    }
    return {};
}

std::string field(const std::string &deb, const std::string &name)
{
    ProgramResult r = runProgram({HALDEN_DPKG_DEB, "-f", deb, name});
    if (!r.out.empty() && r.out.back() == '\n')
        r.out.pop_back();
    return r.out;
}

std::string contents(const std::string &deb) { return runProgram({HALDEN_DPKG_DEB, "-c", deb}).out; }

} // namespace

TEST(Packages, ControlFieldsNameTheirRelationsAndNoPerson)
{
    struct Row {
        const char *package;
        const char *section;
        std::vector<std::pair<const char *, const char *>> relations;  // field, text it holds
    };
    const Row rows[] = {
        {"brimlet", "net", {{"Depends", "libqt5widgets5"}, {"Depends", "libmosquitto1"}, {"Suggests", "mosquitto"}}},
        {"tamsel", "net",
         {{"Depends", "libqt5serialport5"}, {"Depends", "libmosquitto1"}, {"Recommends", "orvel"},
          {"Suggests", "mosquitto"}}},
        {"orvel", "libs", {{"Recommends", "kmui-sim"}}},
        {"orvel-dev", "libdevel", {{"Depends", "orvel (= 1.0)"}}},
        {"kmui-sim", "misc", {{"Depends", "libc6"}}},
    };
    for (const Row &row : rows) {
        const std::string deb = debOf(row.package);
        ASSERT_FALSE(deb.empty()) << row.package << " was not built into " << kPackages;
        EXPECT_EQ(field(deb, "Package"), row.package);
        EXPECT_EQ(field(deb, "Version"), "1.0");
        EXPECT_EQ(field(deb, "Section"), row.section) << row.package;
        EXPECT_EQ(field(deb, "Maintainer"), "Halden <halden@halden.invalid>") << row.package;
        EXPECT_FALSE(field(deb, "Description").empty()) << row.package;
        for (const auto &[name, text] : row.relations)
            EXPECT_NE(field(deb, name).find(text), std::string::npos)
                << row.package << " " << name << ": " << field(deb, name);
    }
}

TEST(Packages, EachHoldsItsFiles)
{
    const std::string lib = "./usr/" + kLibDir + "/";
    const std::vector<std::pair<const char *, std::vector<std::string>>> rows = {
        {"brimlet",
         {"./usr/bin/Brimlet", "./usr/bin/brimlet", "./usr/bin/brimlet-send", "./usr/share/applications/brimlet.desktop",
          "./usr/share/brimlet/Brimlet.ini.example", "./usr/share/icons/hicolor/128x128/apps/brimlet.png",
          "./usr/share/man/man1/brimlet.1.gz", "./usr/share/man/man1/brimlet-send.1.gz",
          "./usr/share/doc/brimlet/copyright"}},
        {"tamsel",
         {"./usr/bin/Tamsel", "./usr/bin/tamsel", "./etc/xdg/autostart/tamsel.desktop",
          "./usr/share/applications/tamsel.desktop", "./usr/share/tamsel/tamsel.ini.example",
          "./usr/share/icons/hicolor/32x32/apps/tamsel.png", "./usr/share/man/man1/tamsel.1.gz",
          "./usr/share/doc/tamsel/copyright"}},
        {"orvel",
         {"./usr/bin/orvelctl", lib + "libORVEL.so.1.0.0", lib + "libORVEL.so.1 -> libORVEL.so.1.0.0",
          lib + "libORVEL.so -> libORVEL.so.1", "./usr/share/man/man1/orvelctl.1.gz"}},
        {"orvel-dev",
         {"./usr/include/orvel.h", lib + "cmake/orvel/orvelConfig.cmake", lib + "cmake/orvel/orvelTargets.cmake",
          lib + "pkgconfig/orvel.pc"}},
        {"kmui-sim", {"./usr/bin/kmui-sim", "./usr/share/man/man1/kmui-sim.1.gz"}},
    };
    for (const auto &[package, files] : rows) {
        const std::string deb = debOf(package);
        ASSERT_FALSE(deb.empty()) << package;
        const std::string list = contents(deb);
        for (const std::string &file : files)
            EXPECT_NE(list.find(" " + file + "\n"), std::string::npos) << package << " lacks " << file << ":\n" << list;
    }
    // The session starts the agent: its autostart entry is a conffile.
    const ProgramResult conffiles = runProgram({HALDEN_DPKG_DEB, "--info", debOf("tamsel"), "conffiles"});
    EXPECT_EQ(conffiles.out, "/etc/xdg/autostart/tamsel.desktop\n");
}

namespace {

// A throw-away root with dpkg's own database, for unpacking packages into.
std::vector<std::string> dpkgInto(const TempDir &root)
{
    std::filesystem::create_directories(root.path() + "/var/lib/dpkg/updates");
    std::filesystem::create_directories(root.path() + "/var/lib/dpkg/info");
    writeFile(root.file("var/lib/dpkg/status"), "");
    return {HALDEN_DPKG, "--root=" + root.path(), "--force-depends", "--force-not-root"};
}

} // namespace

// A program built elsewhere against the installed development files, once
// with find_package(orvel) and once with pkg-config, links and runs.
TEST(Packages, DevelopmentFilesBuildAProgramWithCMakeAndPkgConfig)
{
    TempDir root("halden-dev-root"), project("halden-consumer");
    std::vector<std::string> unpack = dpkgInto(root);
    unpack.insert(unpack.end(), {"--unpack", debOf("orvel"), debOf("orvel-dev")});
    const ProgramResult r = runProgram(unpack, {}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    writeFile(project.file("main.c"), "#include <orvel.h>\n#include <stdio.h>\n"
                                      "int main(void) { char text[16] = {0};\n"
                                      "  printf(\"%d\\n\", (int)ORVL_GetVersionString(text, 16)); return 0; }\n");
    writeFile(project.file("CMakeLists.txt"), "cmake_minimum_required(VERSION 3.16)\nproject(consumer C)\n"
                                              "find_package(orvel 1.0 REQUIRED)\n"
                                              "add_executable(with-cmake main.c)\n"
                                              "target_link_libraries(with-cmake PRIVATE orvel::ORVEL)\n"
                                              "find_package(PkgConfig REQUIRED)\npkg_check_modules(ORVEL REQUIRED orvel)\n"
                                              "add_executable(with-pkg-config main.c)\n"
                                              "target_include_directories(with-pkg-config PRIVATE ${ORVEL_INCLUDE_DIRS})\n"
                                              "target_link_directories(with-pkg-config PRIVATE ${ORVEL_LIBRARY_DIRS})\n"
                                              "target_link_libraries(with-pkg-config PRIVATE ${ORVEL_LIBRARIES})\n");
    const std::string usr = root.file("usr");
    const std::string pcDir = usr + "/" + kLibDir + "/pkgconfig";
    // The .pc file names /usr; PKG_CONFIG_SYSROOT_DIR puts the root in front.
    const std::vector<std::string> env{"PKG_CONFIG_LIBDIR=" + pcDir, "PKG_CONFIG_SYSROOT_DIR=" + root.path()};
    const ProgramResult configured = runProgram({CMAKE_COMMAND_PATH, "-S", project.path(), "-B", project.file("build"),
                                                 "-DCMAKE_PREFIX_PATH=" + usr,
                                                 "-DCMAKE_C_FLAGS=" HALDEN_CONSUMER_C_FLAGS},
                                                env, 120000);
    ASSERT_EQ(configured.exitCode, 0) << configured.out << configured.err;
    const ProgramResult built = runProgram({CMAKE_COMMAND_PATH, "--build", project.file("build")}, env, 120000);
    ASSERT_EQ(built.exitCode, 0) << built.out << built.err;
    for (const char *program : {"with-cmake", "with-pkg-config"}) {
        // No board: the library answers with its status, not a crash.
        const ProgramResult ran = runProgram({project.file("build/" + std::string(program))},
                                             {"LD_LIBRARY_PATH=" + usr + "/" + kLibDir,
                                              "KMUI_RUNTIME_DIR=" + project.file("no-board")});
        EXPECT_EQ(ran.exitCode, 0) << program << ": " << ran.err;
        EXPECT_FALSE(ran.out.empty()) << program;
    }
}

TEST(Packages, InstalledAgentStartsFromItsAutostartEntryAndTakesACommand)
{
    // A throw-away root with dpkg's own database: the three packages a board
    // needs. kmui-sim and tamsel are installed whole; orvel is unpacked only,
    // since configuring it runs ldconfig, which the root does not hold (the
    // loader finds the library by its own rules, not by ldconfig's cache).
    TempDir root("halden-root");
    const std::vector<std::string> dpkg = dpkgInto(root);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), dpkg.begin(), dpkg.end());
        return runProgram(args, {}, 120000);
    };
    ProgramResult r = run({"--unpack", debOf("orvel")});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = run({"--install", debOf("kmui-sim"), debOf("tamsel")});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

    // The command the session runs, as the autostart entry names it.
    const std::string entry = readFile(root.file("etc/xdg/autostart/tamsel.desktop"));
    const size_t exec = entry.find("\nExec=");
    ASSERT_NE(exec, std::string::npos) << entry;
    const std::string command = entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
    ASSERT_EQ(command.find('/'), std::string::npos) << "found on PATH: " << command;
    const std::string launcher = root.file("usr/bin/" + command);

    TempDir home("halden-home"), runtime("halden-rt"), board("halden-board"), work("halden-work"), work2("halden-work");
    const std::string folder = home.path() + "/tamsel";
    MosquittoBroker broker;
    ASSERT_TRUE(broker.running());
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen",
                                       "KMUI_RUNTIME_DIR=" + board.path(), "XDG_RUNTIME_DIR=" + runtime.path()};
    struct BoardGuard {  // the board the library starts outlives the agent, as a service does
        std::string pidFile;
        ~BoardGuard()
        {
            std::ifstream in(pidFile);
            long pid = 0;
            if (in >> pid && pid > 1)
                ::kill(pid_t(pid), SIGTERM);
        }
    } guard{board.file("kmui-sim.pid")};

    // First start: no settings yet, so the launcher leaves the example and says where.
    {
        TamselProcess first(launcher, work.path(), env);
        ASSERT_TRUE(first.start());
        ASSERT_TRUE(first.waitForErr("edit " + folder + "/tamsel.ini", 1, 20000)) << first.errText();
        first.stop();
    }
    struct stat info {};
    ASSERT_EQ(::stat((folder + "/tamsel.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the settings file holds passwords";
    EXPECT_EQ(readFile(folder + "/tamsel.ini"), readFile(root.file("usr/share/tamsel/tamsel.ini.example")));

    // Filled in, as the site would, and started again.
    std::string settings = readFile(folder + "/tamsel.ini");
    auto set = [&](const std::string &key, const std::string &value) {
        const size_t at = settings.find("\n" + key + "=");
        ASSERT_NE(at, std::string::npos) << key;
        settings.replace(at + 1, settings.find('\n', at + 1) - at - 1, key + "=" + value);
    };
    set("Port", std::to_string(broker.port()));
    set("TopicToken", "site/installed");
    set("Pwd", "install-pw");
    writeFile(folder + "/tamsel.ini", settings);
    TamselProcess agent(launcher, work2.path(), env);
    ASSERT_TRUE(agent.start());
    ASSERT_TRUE(waitFor([&] { return broker.countInLog("Received SUBSCRIBE") > 0; }, 30000))
        << agent.errText() << broker.logText();
    EXPECT_EQ(agent.errText().find("no settings yet"), std::string::npos);

    SlotValues slot;
    slot.activeDay = 0x3E;
    slot.pwrOnEnable = true;
    slot.pwrOnHour = 6;
    slot.pwrOnMinute = 45;
    slot.pwrOffEnable = true;
    slot.pwrOffHour = 21;
    slot.pwrOffMinute = 15;
    ASSERT_TRUE(mosquittoPublish(broker.port(), "site/installed",
                                 composeSlotCommand("SLOT1", slot, "install-pw").toStdString()));
    const std::vector<std::string> orvelctlEnv{"KMUI_RUNTIME_DIR=" + board.path(),
                                               "LD_LIBRARY_PATH=" + root.file("usr/" + kLibDir)};
    const std::string expected =
        "{\"onHour\":6,\"onMinute\":45,\"offHour\":21,\"offMinute\":15,\"enableFlags\":3,\"activeDays\":62}\n";
    std::string seen;
    EXPECT_TRUE(waitFor(
        [&] {
            seen = runProgram({root.file("usr/bin/orvelctl"), "--json", "schedule", "get", "3"}, orvelctlEnv).out;
            return seen == expected;
        },
        20000))
        << seen << agent.errText();
    // The board is the installed one, started by the installed library.
    std::ifstream pidFile(board.file("kmui-sim.pid"));
    long pid = 0;
    ASSERT_TRUE(pidFile >> pid);
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe").string(),
              std::filesystem::canonical(root.file("usr/bin/kmui-sim")).string());
}

// Brimlet's launcher, from its menu entry: a settings folder of the user's
// own, created with a private copy of the example the first time only.
TEST(Packages, InstalledBrimletLauncherKeepsTheSettingsInTheUsersFolder)
{
    TempDir root("halden-root");
    std::vector<std::string> install = dpkgInto(root);
    install.insert(install.end(), {"--install", debOf("brimlet")});
    const ProgramResult r = runProgram(install, {}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string entry = readFile(root.file("usr/share/applications/brimlet.desktop"));
    ASSERT_NE(entry.find("\nExec=brimlet\n"), std::string::npos) << entry;

    TempDir home("halden-home"), first("halden-work"), second("halden-work");
    const std::string settings = home.path() + "/brimlet/Brimlet.ini";
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + home.path(), "QT_QPA_PLATFORM=offscreen"};
    {
        TamselProcess brimlet(root.file("usr/bin/brimlet"), first.path(), env);
        ASSERT_TRUE(brimlet.start());
        ASSERT_TRUE(brimlet.waitForErr("edit " + settings, 1, 20000)) << brimlet.errText();
    }
    struct stat info {};
    ASSERT_EQ(::stat(settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // The user's file is theirs from then on: a second start leaves it alone.
    writeFile(settings, "[General]\nTopicToken=site/mine\n");
    {
        TamselProcess brimlet(root.file("usr/bin/brimlet"), second.path(), env);
        ASSERT_TRUE(brimlet.start());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_EQ(brimlet.errText().find("no settings yet"), std::string::npos) << brimlet.errText();
    }
    EXPECT_NE(readFile(settings).find("TopicToken=site/mine"), std::string::npos);
}
