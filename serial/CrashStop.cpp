#include "serial/CrashStop.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

// Every signal whose default action ends the process with a core: a fault the program cannot go
// on from, or a limit of the system (CPU time, file size) that ends it at once.
constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGXCPU, SIGXFSZ};
constexpr int kPlaces = 16;

// Filled before the descriptor is published; the handler reads only published places.
struct Place {
    std::atomic<int> descriptor{-1};
    std::atomic<bool> taken{false};
    char text[CrashStop::MaxText] = {};
    std::size_t length = 0;
};

Place places[kPlaces];
struct sigaction previous[std::size(kFaults)];
std::once_flag installed;

void OnFault(int signalNumber)
{
    for (Place &place : places) {
        const int descriptor = place.descriptor.load(std::memory_order_acquire);
        if (descriptor >= 0) {
            [[maybe_unused]] const ssize_t written = ::write(descriptor, place.text, place.length);
        }
    }
    // The fault takes its course as if this handler had not been there.
    for (std::size_t i = 0; i < std::size(kFaults); ++i) {
        if (kFaults[i] == signalNumber)
            ::sigaction(signalNumber, &previous[i], nullptr);
    }
    ::raise(signalNumber);
}

void Install()
{
    struct sigaction action = {};
    action.sa_handler = OnFault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(kFaults); ++i)
        ::sigaction(kFaults[i], &action, &previous[i]);
}

} // namespace

int CrashStop::Register(int descriptor, const std::string &text)
{
    if (descriptor < 0 || text.empty() || text.size() > MaxText)
        return -1;
    std::call_once(installed, Install);
    for (int i = 0; i < kPlaces; ++i) {
        Place &place = places[i];
        if (place.taken.exchange(true))
            continue;
        std::memcpy(place.text, text.data(), text.size());
        place.length = text.size();
        place.descriptor.store(descriptor, std::memory_order_release);
        return i;
    }
    return -1;
}

void CrashStop::Unregister(int registration)
{
    if (registration < 0 || registration >= kPlaces)
        return;
    places[registration].descriptor.store(-1, std::memory_order_release);
    places[registration].taken.store(false);
}
