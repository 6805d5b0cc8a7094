#include "serial/SyncEvent.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The part of a timeout that is left, for poll(); -1 stays "without limit".
int Remaining(int timeoutMs, Clock::time_point start)
{
    if (timeoutMs < 0)
        return -1;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= timeoutMs ? 0 : static_cast<int>(timeoutMs - spent);
}

} // namespace

SyncEvent::SyncEvent(Mode mode) : mode_(mode), fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SyncEvent::~SyncEvent()
{
    if (fd_ >= 0)
        close(fd_);
}

void SyncEvent::Set()
{
    const std::uint64_t one = 1;
    // The counter only saturates after 2^64 - 2 sets; a failed write leaves the event set.
    [[maybe_unused]] ssize_t written = write(fd_, &one, sizeof one);
}

void SyncEvent::Reset()
{
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(fd_, &count, sizeof count);
}

bool SyncEvent::IsSet() const
{
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

bool SyncEvent::TryTake()
{
    if (mode_ == ManualReset)
        return IsSet();
    std::uint64_t count = 0;
    return read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

bool SyncEvent::Wait(int timeoutMs) { return WaitAny({this}, timeoutMs) == 0; }

int SyncEvent::WaitAny(std::initializer_list<SyncEvent *> events, int timeoutMs)
{
    std::vector<pollfd> entries;
    entries.reserve(events.size());
    for (SyncEvent *event : events)
        entries.push_back(pollfd{event->fd_, POLLIN, 0});

    const Clock::time_point start = Clock::now();
    for (;;) {
        const int ready = poll(entries.data(), entries.size(), Remaining(timeoutMs, start));
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready > 0) {
            int index = 0;
            for (SyncEvent *event : events) {
                // Another waiter may have taken an auto-reset event between poll and read.
                if ((entries[index].revents & POLLIN) && event->TryTake())
                    return index;
                ++index;
            }
        }
        if (Remaining(timeoutMs, start) == 0)
            return -1;
    }
}
