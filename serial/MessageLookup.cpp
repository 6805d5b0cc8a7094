#include "serial/MessageTable.h"

#include "serial/SystemErrors.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>

namespace {

constexpr size_t kMaxMessageLength = 255;

void CutToMaxLength(std::string &text)
{
    if (text.size() > kMaxMessageLength)
        text.resize(kMaxMessageLength);
}

} // namespace

std::string MessageForCode(int code)
{
    // Codes travel as 16-bit values; every code in use fits.
    const int magnitude = std::abs(static_cast<int>(static_cast<int16_t>(code)));

    const std::span<const MessageRow> rows = MessageTable();
    std::string text;
    const auto row =
        std::ranges::lower_bound(rows, magnitude, std::less<>(), [](const MessageRow &r) { return std::abs(r.Code); });
    if (row != rows.end() && std::abs(row->Code) == magnitude)
        text = row->Text;
    CutToMaxLength(text);

    if (text.empty()) {
        text = SystemErrorText(magnitude);
        CutToMaxLength(text);
        if (!text.empty())
            text = CleanSystemMessage(std::move(text));
    }
    return text;
}

std::string CleanSystemMessage(std::string text)
{
    std::string clean;
    clean.reserve(text.size());
    for (const char c : text) {
        const char shown = static_cast<unsigned char>(c) < 32 ? ' ' : c;
        if (shown == ' ' && !clean.empty() && clean.back() == ' ')
            continue;
        clean.push_back(shown);
    }
    return clean;
}
