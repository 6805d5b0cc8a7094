#include "serial/TraceLog.h"

#include "base/Exception.h"
#include "serial/MessageTable.h"
#include "serial/SystemErrors.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Entries per line of a dump, so that long runs stay readable.
constexpr std::size_t kEntriesPerLine = 64;

int WriteFile(const std::string &fileName, bool append, const std::string &text)
{
    // A link in the dump's place is refused rather than followed, so that a dump never
    // overwrites a file elsewhere.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int descriptor = open(fileName.c_str(), flags, 0666);
    if (descriptor < 0)
        return -(errno == ELOOP ? SystemError::AccessDenied : SystemErrorFromErrno(errno));
    std::FILE *file = fdopen(descriptor, append ? "ab" : "wb");
    if (!file) {
        const int error = errno;
        close(descriptor);
        return -SystemErrorFromErrno(error);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        return -SystemErrorFromErrno(written ? errno : error);
    return 0;
}

// A kind or detail by the message table's name, or by its number when the table has none.
std::string Name(int row, int number)
{
    std::string text = MessageForCode(row);
    return text.empty() ? std::to_string(number) : text;
}

} // namespace

std::string FormatTraceBytes(const std::uint8_t *data, std::size_t count, bool hex, bool allHex)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = data[i];
        const bool printable = byte > ' ' ? byte <= '~' : byte == ' ' && !hex;
        if (allHex || (!printable && hex))
            text += FormatText("%02X", byte);
        else if (printable)
            text += static_cast<char>(byte);
        else
            text += FormatText("[%u]", byte);
    }
    return text;
}

void CharTrace::Start(std::size_t capacity)
{
    capacity_ = capacity;
    entries_.assign(capacity, 0);
    start_ = 0;
    count_ = 0;
    active_ = capacity > 0;
    paused_ = false;
}

void CharTrace::Stop()
{
    entries_.clear();
    entries_.shrink_to_fit();
    capacity_ = start_ = count_ = 0;
    active_ = paused_ = false;
}

void CharTrace::Clear()
{
    start_ = 0;
    count_ = 0;
}

void CharTrace::Add(char kind, const std::uint8_t *data, std::size_t count)
{
    if (!active_ || paused_)
        return;
    for (std::size_t i = 0; i < count; ++i) {
        const auto entry = static_cast<std::uint16_t>((static_cast<std::uint8_t>(kind) << 8) | data[i]);
        if (count_ < capacity_) {
            entries_[(start_ + count_) % capacity_] = entry;
            ++count_;
        } else {
            entries_[start_] = entry;
            start_ = (start_ + 1) % capacity_;
        }
    }
}

std::string CharTrace::Text(bool hex, bool allHex, const std::string &deviceName) const
{
    std::string text = deviceName + "\n";
    char kind = 0;
    std::size_t inLine = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        const std::uint16_t entry = entries_[(start_ + i) % capacity_];
        const char entryKind = static_cast<char>(entry >> 8);
        const auto byte = static_cast<std::uint8_t>(entry & 0xFF);
        if (entryKind != kind || inLine == kEntriesPerLine) {
            if (i > 0)
                text += "\n";
            if (entryKind != kind)
                text += entryKind == Receive ? "Receive: \n" : "Transmit: \n";
            kind = entryKind;
            inLine = 0;
        }
        text += FormatTraceBytes(&byte, 1, hex, allHex);
        ++inLine;
    }
    if (count_ > 0)
        text += "\n";
    return text;
}

int CharTrace::Dump(const std::string &fileName, bool append, bool hex, bool allHex, const std::string &deviceName)
{
    const int result = WriteFile(fileName, append, Text(hex, allHex, deviceName));
    Stop();
    return result;
}

void EventLog::Start(std::size_t capacity)
{
    records_.clear();
    used_ = 0;
    capacity_ = capacity;
    active_ = capacity > 0;
    paused_ = false;
}

void EventLog::Stop()
{
    records_.clear();
    used_ = capacity_ = 0;
    active_ = paused_ = false;
}

void EventLog::Clear()
{
    records_.clear();
    used_ = 0;
}

void EventLog::Add(std::uint16_t kind, std::uint16_t detail, std::uint32_t data, const std::uint8_t *bytes,
                   std::size_t count)
{
    if (!active_ || paused_)
        return;
    // A record larger than the whole ring keeps only the data bytes that fit.
    if (RecordHeader + count > capacity_)
        count = capacity_ > RecordHeader ? capacity_ - RecordHeader : 0;
    if (RecordHeader + count > capacity_)
        return;
    const auto time =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - base_).count();
    Record record{static_cast<std::uint32_t>(time), kind, detail, data,
                  std::vector<std::uint8_t>(bytes, bytes + count)};
    used_ += RecordHeader + count;
    records_.push_back(std::move(record));
    while (used_ > capacity_) {
        used_ -= RecordHeader + records_.front().Bytes.size();
        records_.pop_front();
    }
}

std::string EventLog::Text(bool hex, bool allHex, const std::string &deviceName) const
{
    std::string text = MessageForCode(15501) + "\n" + deviceName + "\n" + MessageForCode(15502) + "\n";
    for (const Record &record : records_) {
        text += FormatText("%10u  %s  %s  %u", record.Time, Name(15000 + record.Kind, record.Kind).c_str(),
                           record.Detail ? Name(15100 + record.Detail, record.Detail).c_str() : "-", record.Data);
        if (!record.Bytes.empty())
            text += "  " + FormatTraceBytes(record.Bytes.data(), record.Bytes.size(), hex, allHex);
        text += "\n";
    }
    return text;
}

int EventLog::Dump(const std::string &fileName, bool append, bool hex, bool allHex, const std::string &deviceName)
{
    const int result = WriteFile(fileName, append, Text(hex, allHex, deviceName));
    Stop();
    return result;
}
