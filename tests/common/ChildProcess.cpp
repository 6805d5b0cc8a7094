#include "tests/common/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>> &set)
{
    std::vector<std::string> out;
    for (char **entry = environ; *entry; ++entry) {
        const std::string line(*entry);
        bool replaced = false;
        for (const auto &[name, value] : set)
            replaced = replaced || line.rfind(name + "=", 0) == 0;
        if (!replaced)
            out.push_back(line);
    }
    for (const auto &[name, value] : set)
        out.push_back(name + "=" + value);
    return out;
}

pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, int outFd, int errFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &line : env)
        envp.push_back(const_cast<char *>(line.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int result = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? pid : -1;
}

void Terminate(pid_t &pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}
