#pragma once

#include "serial/MessageTarget.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Notification messages, with the trigger value as wParam and, in lParam, the dispatcher's
// table index in the high word and the data in the low word.
constexpr std::uint16_t NotifyAvail = 0x7E01;
constexpr std::uint16_t NotifyData = 0x7E02;
constexpr std::uint16_t NotifyTimer = 0x7E03;
constexpr std::uint16_t NotifyStatus = 0x7E04;
constexpr std::uint16_t NotifyClosePending = 0x7E0A;

// Status trigger kinds, held in the low 3 bits of a status trigger's handle.
constexpr std::uint16_t StatusModem = 1;
constexpr std::uint16_t StatusLineError = 2;
constexpr std::uint16_t StatusOutbuffFree = 3;
constexpr std::uint16_t StatusOutbuffUsed = 4;
constexpr std::uint16_t StatusOutSent = 5;

// A receiver of notification messages: the port component's hidden window.
class NotifyWindow : public MessageTarget {
public:
    using MessageTarget::MessageTarget;
    virtual void WindowProc(std::uint16_t msg, std::uint16_t wParam, std::int32_t lParam) = 0;
};

// A procedure or event handler of notifications: (message, trigger value, lParam).
using TNotifyHandler = std::function<void(std::uint16_t, std::uint16_t, std::int32_t)>;

struct TimerTrigger {
    std::uint16_t Handle = 0;
    std::uint32_t Interval = 0; // milliseconds
    bool Enabled = false;
    std::chrono::steady_clock::time_point Due{};
};

struct DataTrigger {
    std::uint16_t Handle = 0;
    std::string Text;
    bool IgnoreCase = false;
    bool Enabled = true;
    std::size_t Matched = 0; // characters of Text matched so far
};

struct StatusTrigger {
    std::uint16_t Handle = 0;
    std::uint32_t Value = 0; // modem line mask, or a byte count for the output kinds
    bool Enabled = false;
    std::uint32_t Reference = 0; // modem lines when armed
};

// The triggers and the data-available threshold, copied out at close and in at the next open.
struct TriggerSave {
    std::uint32_t AvailThreshold = 0;
    std::vector<TimerTrigger> TimerTriggers;
    std::vector<DataTrigger> DataTriggers;
    std::vector<StatusTrigger> StatusTriggers;
};
