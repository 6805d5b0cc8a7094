#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

class TBaseDispatcher;
class TCustomComPort;

// The process-wide list of dispatchers, by which notifications find theirs.
class DispatcherTable {
public:
    static DispatcherTable &Instance();
    // Takes the first empty slot or a new one at the end; the slot's index.
    int Register(TBaseDispatcher *dispatcher, TCustomComPort *owner);
    // Empties the slot and trims empty slots from the end.
    void Unregister(int index);
    // The dispatcher at index, or none.
    TBaseDispatcher *At(int index);
    // The port component of the dispatcher at index, or none.
    TCustomComPort *OwnerAt(int index);
    std::size_t Size();

private:
    struct Slot {
        TBaseDispatcher *Dispatcher = nullptr;
        TCustomComPort *Owner = nullptr;
    };
    // Under lock_.
    const Slot *SlotAt(int index) const;

    std::mutex lock_;
    std::vector<Slot> slots_;
};
