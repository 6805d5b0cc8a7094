#pragma once

// Child processes of a test, started with posix_spawn rather than QProcess: the thread
// sanitizer cannot follow the way QProcess starts a child, and then loses track of the locks
// the test takes.

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The environment of a child: ours, with the given variables replaced.
std::vector<std::string> ChildEnvironment(const std::vector<std::pair<std::string, std::string>> &set = {});

// Starts a program (looked up on PATH unless the name has a slash) with its standard output on
// `outFd` and its errors on `errFd`. -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, int outFd, int errFd);

// Asks the child to end, waits up to 3 s, then kills it; pid is -1 afterwards.
void Terminate(pid_t &pid);
