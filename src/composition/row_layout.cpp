#include "composition/row_layout.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace {

// The first cell of every line after the first.
using Breaks = std::vector<std::size_t>;

int widestLine(const std::vector<Cell> &cells, const Breaks &breaks)
{
    int widest = 0;
    std::size_t begin = 0;
    for (std::size_t line = 0; line <= breaks.size(); ++line) {
        const std::size_t end = line < breaks.size() ? breaks[line] : cells.size();
        int width = 0;
        for (std::size_t i = begin; i < end; ++i)
            width += cells[i].width;
        widest = std::max(widest, width);
        begin = end;
    }
    return widest;
}

// Tries every way to break (at most ten cells into four lines: 84 ways).
void searchBreaks(const std::vector<Cell> &cells, std::size_t linesLeft, Breaks &breaks, Breaks &best,
                  int &bestWidth)
{
    if (linesLeft == 1) {
        const int widest = widestLine(cells, breaks);
        if (widest < bestWidth) {
            bestWidth = widest;
            best = breaks;
        }
        return;
    }
    const std::size_t first = breaks.empty() ? 1 : breaks.back() + 1;
    for (std::size_t at = first; at + linesLeft - 1 <= cells.size() - 1; ++at) {
        breaks.push_back(at);
        searchBreaks(cells, linesLeft - 1, breaks, best, bestWidth);
        breaks.pop_back();
    }
}

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

    Breaks breaks;
    Breaks best;
    int bestWidth = INT_MAX;
    searchBreaks(strip.cells, lines, breaks, best, bestWidth);
    best.push_back(strip.cells.size());

    StripLayout laid = strip;
    laid.rows = std::int32_t(lines);
    laid.width = bestWidth;
    laid.height = 0;
    const QString reference(QChar{kReferenceGlyph});
    std::size_t begin = 0;
    for (std::size_t line = 0; line < lines; ++line) {
        const std::size_t end = best[line];
        // Sizes grow along the line, so its last cell is its largest.
        const int height =
            measurer.measure(reference, measuringFont(strip.settings, strip.cells[end - 1].pointSize))
                .height();
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
