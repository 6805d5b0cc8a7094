#pragma once

#include <cstddef>
#include <string>

// The last words of a program that dies of a fault (SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL,
// SIGTRAP, SIGSYS) or of a system limit (SIGXCPU, SIGXFSZ): each registered descriptor gets its
// text written, with nothing but write(2) from the signal handler, before the signal takes its
// usual course. A recorder told to record is thus told to stop even when the program that
// commanded it crashes.
namespace CrashStop {

constexpr std::size_t MaxText = 32;

// Registers a descriptor and the text to write to it; the handlers are installed with the first
// registration. Returns the registration, or -1 when the text is empty or longer than MaxText,
// or when every place is taken.
int Register(int descriptor, const std::string &text);
// Ends a registration; -1 is ignored. Done before the descriptor is closed.
void Unregister(int registration);

} // namespace CrashStop
