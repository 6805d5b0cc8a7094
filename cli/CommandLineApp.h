#pragma once

// Runs the command the arguments name, without any display (a core application, no window
// system), and returns the program's exit status: 0 done, 1 a failure, 2 a usage error, 128 + n
// when signal n ended a command.
int RunCommandLine(int argc, char **argv);
