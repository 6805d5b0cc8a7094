#include "serial/DispatcherTable.h"

#include <algorithm>

DispatcherTable &DispatcherTable::Instance()
{
    static DispatcherTable table;
    return table;
}

int DispatcherTable::Register(TBaseDispatcher *dispatcher, TCustomComPort *owner)
{
    std::lock_guard guard(lock_);
    const auto empty = std::find_if(slots_.begin(), slots_.end(), [](const Slot &slot) { return !slot.Dispatcher; });
    if (empty != slots_.end()) {
        *empty = {dispatcher, owner};
        return static_cast<int>(empty - slots_.begin());
    }
    slots_.push_back({dispatcher, owner});
    return static_cast<int>(slots_.size() - 1);
}

void DispatcherTable::Unregister(int index)
{
    std::lock_guard guard(lock_);
    if (!SlotAt(index))
        return;
    slots_[static_cast<std::size_t>(index)] = {};
    while (!slots_.empty() && !slots_.back().Dispatcher)
        slots_.pop_back();
}

const DispatcherTable::Slot *DispatcherTable::SlotAt(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size())
        return nullptr;
    return &slots_[static_cast<std::size_t>(index)];
}

TBaseDispatcher *DispatcherTable::At(int index)
{
    std::lock_guard guard(lock_);
    const Slot *slot = SlotAt(index);
    return slot ? slot->Dispatcher : nullptr;
}

TCustomComPort *DispatcherTable::OwnerAt(int index)
{
    std::lock_guard guard(lock_);
    const Slot *slot = SlotAt(index);
    return slot ? slot->Owner : nullptr;
}

std::size_t DispatcherTable::Size()
{
    std::lock_guard guard(lock_);
    return slots_.size();
}
