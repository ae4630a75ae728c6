#include "composition/row_layout.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// The first cell of every line after the first.
using Breaks = std::vector<std::size_t>;

// What a way of breaking is judged by: the longer side of the box the lines
// make, then its width.
struct Extent {
    int width = 0;
    int height = 0;
    bool operator<(const Extent &other) const
    {
        const int longest = std::max(width, height);
        const int otherLongest = std::max(other.width, other.height);
        return longest != otherLongest ? longest < otherLongest : width < other.width;
    }
};

struct BreakSearch {
    const std::vector<Cell> &cells;
    const std::vector<int> &lineHeights; // of a line ending at each cell
    int spacing = 0;
    Breaks breaks;
    Breaks best;
    std::optional<Extent> bestExtent;

    Extent extentOf() const
    {
        Extent extent;
        std::size_t begin = 0;
        for (std::size_t line = 0; line <= breaks.size(); ++line) {
            const std::size_t end = line < breaks.size() ? breaks[line] : cells.size();
            int width = 0;
            for (std::size_t i = begin; i < end; ++i)
                width += cells[i].width;
            extent.width = std::max(extent.width, width);
            extent.height += lineHeights[end - 1] + (line > 0 ? spacing : 0);
            begin = end;
        }
        return extent;
    }

    // Tries every way to break (at most ten cells into four lines: 84 ways).
    void search(std::size_t linesLeft)
    {
        if (linesLeft == 1) {
            const Extent extent = extentOf();
            if (!bestExtent || extent < *bestExtent) {
                bestExtent = extent;
                best = breaks;
            }
            return;
        }
        const std::size_t first = breaks.empty() ? 1 : breaks.back() + 1;
        for (std::size_t at = first; at + linesLeft - 1 <= cells.size(); ++at) {
            breaks.push_back(at);
            search(linesLeft - 1);
            breaks.pop_back();
        }
    }
};

int lineLeft(HorzAlign align, int width, int lineWidth)
{
    switch (align) {
    case HorzAlign::Centre:
        return (width - lineWidth) / 2;
    case HorzAlign::Right:
        return width - lineWidth;
    case HorzAlign::Left:
        break;
    }
    return 0;
}

} // namespace

StripLayout inRows(const StripLayout &strip, int rows, TextMeasurer &measurer)
{
    const std::size_t lines = std::min(std::size_t(std::max(rows, 1)), strip.cells.size());
    if (lines <= 1)
        return strip;

    // Sizes grow along a line, so its last cell is its largest and gives
    // the line's height.
    const QString reference(QChar{kReferenceGlyph});
    std::vector<int> lineHeights;
    for (const Cell &cell : strip.cells)
        lineHeights.push_back(
            measurer.measure(reference, measuringFont(strip.settings, cell.pointSize)).height());
    BreakSearch search{strip.cells, lineHeights, strip.settings.spacing, {}, {}, {}};
    search.search(lines);
    Breaks best = search.best;
    best.push_back(strip.cells.size());
    const int bestWidth = search.bestExtent->width;

    StripLayout laid = strip;
    laid.rows = std::int32_t(lines);
    laid.width = bestWidth;
    laid.height = 0;
    std::size_t begin = 0;
    for (std::size_t line = 0; line < lines; ++line) {
        const std::size_t end = best[line];
        const int height = lineHeights[end - 1];
        if (line > 0)
            laid.height += strip.settings.spacing;
        int lineWidth = 0;
        for (std::size_t i = begin; i < end; ++i)
            lineWidth += strip.cells[i].width;
        int x = lineLeft(strip.settings.horzAlign, bestWidth, lineWidth);
        for (std::size_t i = begin; i < end; ++i) {
            Cell &cell = laid.cells[i];
            cell.x = x;
            cell.y = laid.height;
            cell.height = height;
            x += cell.width;
        }
        laid.height += height;
        begin = end;
    }
    return laid;
}
