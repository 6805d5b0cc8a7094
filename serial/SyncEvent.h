#pragma once

#include <initializer_list>

// A signal that threads wait for, on an eventfd so that a thread can wait for it together with
// a device descriptor in one poll(). An auto-reset event is consumed by the one wait that sees
// it; a manual-reset event stays set until Reset.
class SyncEvent {
public:
    enum Mode { AutoReset, ManualReset };

    explicit SyncEvent(Mode mode);
    ~SyncEvent();

    SyncEvent(const SyncEvent &) = delete;
    SyncEvent &operator=(const SyncEvent &) = delete;

    // False when the system had no descriptor to give.
    bool IsValid() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    void Set();
    void Reset();
    // Waits at most timeoutMs (negative: without limit); true when the event was set.
    bool Wait(int timeoutMs);
    // For a set auto-reset event: takes it, true when this caller got it. A manual-reset event
    // answers whether it is set and stays as it is.
    bool TryTake();
    bool IsSet() const;

    // Waits for the first of the events; returns its index, or -1 when the time ran out.
    static int WaitAny(std::initializer_list<SyncEvent *> events, int timeoutMs);

private:
    Mode mode_;
    int fd_;
};
