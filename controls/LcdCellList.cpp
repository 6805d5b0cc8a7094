#include "controls/LcdCellList.h"

#include <string_view>

namespace {

bool IsPoint(char ch) { return ch == '.' || ch == ','; }

// Walks the text emitting cells: a character waits until the next one shows whether a point
// follows it; a point with nothing to attach to gets a cell of its own. Stops at `limit` cells.
// With `out` null it only counts.
int EmitCells(std::string_view text, int limit, std::vector<LcdCell> *out)
{
    int emitted = 0;
    auto push = [&](char ch, bool point) {
        if (out)
            out->push_back({static_cast<unsigned char>(ch), point});
        ++emitted;
    };
    bool hasPending = false;
    char pending = 0;
    for (size_t i = 0; i < text.size() && emitted < limit; ++i) {
        const char c = text[i];
        const bool last = i + 1 == text.size();
        if (!hasPending) {
            if (IsPoint(c) || last) {
                push(c, false);
            } else {
                pending = c;
                hasPending = true;
            }
        } else if (IsPoint(c)) {
            push(pending, true);
            hasPending = false;
        } else {
            push(pending, false);
            if (emitted == limit)
                break;
            pending = c;
            if (last)
                push(c, false);
        }
    }
    return emitted;
}

} // namespace

std::vector<LcdCell> BuildCellList(const QByteArray &text, int cells, Zn::TZnIndicatorKind kind)
{
    std::vector<LcdCell> list;
    if (cells <= 0)
        return list;
    list.reserve(static_cast<size_t>(cells));
    const std::string_view view(text.constData(), static_cast<size_t>(text.size()));

    if (kind == Zn::ik5x7matrix) {
        const int length = static_cast<int>(view.size());
        const int blanks = length >= cells ? 0 : cells - length;
        list.resize(static_cast<size_t>(blanks));
        for (int k = blanks; k < cells; ++k) {
            const char ch = view[static_cast<size_t>(k - blanks)];
            list.push_back({static_cast<unsigned char>(ch), false});
        }
        return list;
    }

    // Count the cells the text needs, then pad it on the left so it ends in the last cell;
    // a leading point gets a blank to attach to.
    const int needed = EmitCells(view, cells, nullptr);
    std::string aligned;
    if (!view.empty() && IsPoint(view.front()))
        aligned += ' ';
    aligned.append(static_cast<size_t>(cells - needed), ' ');
    aligned += view;
    EmitCells(aligned, cells, &list);
    // Every aligned text fills the cells exactly; stay safe if one does not.
    list.resize(static_cast<size_t>(cells));
    return list;
}
