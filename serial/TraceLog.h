#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// How a dump writes bytes: printable ones as themselves (the space only without hex), the others
// as [decimal] or, with hex, as two hexadecimal digits; allHex writes every byte in hex.
std::string FormatTraceBytes(const std::uint8_t *data, std::size_t count, bool hex, bool allHex);

// The diagnostic character trace: every byte sent ('T') or received ('R'), in a ring of a fixed
// number of entries that drops the oldest when full.
class CharTrace {
public:
    static constexpr char Transmit = 'T';
    static constexpr char Receive = 'R';

    bool Active() const { return active_; }
    bool Paused() const { return paused_; }

    // Starts recording into an emptied ring of capacity entries.
    void Start(std::size_t capacity);
    // Stops and forgets what was recorded.
    void Stop();
    void Pause() { paused_ = true; }
    void Resume() { paused_ = false; }
    void Clear();
    void Add(char kind, const std::uint8_t *data, std::size_t count);

    // Writes the entries to a file (replacing it, or appending) and stops: 0, or the negated
    // system error when the file cannot be written.
    int Dump(const std::string &fileName, bool append, bool hex, bool allHex, const std::string &deviceName);
    // The text a dump writes.
    std::string Text(bool hex, bool allHex, const std::string &deviceName) const;

private:
    std::vector<std::uint16_t> entries_; // kind in the high byte, the byte in the low one
    std::size_t capacity_ = 0;
    std::size_t start_ = 0;
    std::size_t count_ = 0;
    bool active_ = false;
    bool paused_ = false;
};

// Kinds and details of logged dispatcher events; a dump names them with the message table's
// texts for 15000 + kind and 15100 + detail.
namespace LogKind {
constexpr std::uint16_t Dispatch = 1;
constexpr std::uint16_t Trigger = 2;
constexpr std::uint16_t Timer = 4;
constexpr std::uint16_t Status = 5;
constexpr std::uint16_t Available = 6;
constexpr std::uint16_t Open = 10;
constexpr std::uint16_t Close = 11;
constexpr std::uint16_t Thread = 12;
constexpr std::uint16_t Read = 13;
constexpr std::uint16_t Write = 14;
constexpr std::uint16_t Event = 15;
constexpr std::uint16_t Line = 16;
constexpr std::uint16_t Buffer = 20;
} // namespace LogKind

namespace LogDetail {
constexpr std::uint16_t None = 0;
constexpr std::uint16_t DataRead = 1;
constexpr std::uint16_t DataWritten = 2;
constexpr std::uint16_t LineEvent = 5;
constexpr std::uint16_t ModemChange = 6;
constexpr std::uint16_t LineError = 7;
constexpr std::uint16_t OutputEmpty = 13;
constexpr std::uint16_t InputFull = 14;
constexpr std::uint16_t DataMatched = 15;
constexpr std::uint16_t TimerFired = 16;
constexpr std::uint16_t StatusMatched = 17;
constexpr std::uint16_t ThreadStarted = 19;
constexpr std::uint16_t ThreadStopped = 20;
} // namespace LogDetail

// The dispatcher's event log: records stamped with the milliseconds since the port opened, in a
// ring of a fixed number of bytes that drops the oldest records when full.
class EventLog {
public:
    struct Record {
        std::uint32_t Time;
        std::uint16_t Kind;
        std::uint16_t Detail;
        std::uint32_t Data;
        std::vector<std::uint8_t> Bytes;
    };

    // Bytes a record takes in the ring besides its data bytes.
    static constexpr std::size_t RecordHeader = 12;

    bool Active() const { return active_; }
    bool Paused() const { return paused_; }

    void SetTimeBase(std::chrono::steady_clock::time_point base) { base_ = base; }
    void Start(std::size_t capacity);
    void Stop();
    void Pause() { paused_ = true; }
    void Resume() { paused_ = false; }
    void Clear();
    void Add(std::uint16_t kind, std::uint16_t detail, std::uint32_t data, const std::uint8_t *bytes = nullptr,
             std::size_t count = 0);
    const std::deque<Record> &Records() const { return records_; }

    int Dump(const std::string &fileName, bool append, bool hex, bool allHex, const std::string &deviceName);
    std::string Text(bool hex, bool allHex, const std::string &deviceName) const;

private:
    std::deque<Record> records_;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    bool active_ = false;
    bool paused_ = false;
    std::chrono::steady_clock::time_point base_ = std::chrono::steady_clock::now();
};
