#include "run_program.h"

#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace halden::test {

ProgramResult runProgram(const std::vector<std::string> &args, const std::vector<std::string> &env, int timeoutMs)
{
    ProgramResult result;
    if (args.empty())
        return result;
    TempDir dir("run-program");
    const std::string outPath = dir.file("out");
    const std::string errPath = dir.file("err");

    std::vector<std::string> envStrings;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto &extra : env)
            replaced = replaced || extra.substr(0, extra.find('=')) == name;
        if (!replaced)
            envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), env.begin(), env.end());

    std::vector<std::string> argStrings = args;
    std::vector<char *> argv, envp;
    for (auto &a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot start " + args[0] + ": " + std::strerror(rc);
        return result;
    }

    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.timedOut = true;
    } else if (done == pid && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

} // namespace halden::test
