#include "composition/row_layout.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// The first cell of every line after the first.
using Breaks = std::vector<std::size_t>;

// What a way of breaking is judged by: lines that show nothing (only
// spaces) as few as can be, then the longer side of the box the lines
// make, then its width.
struct Extent {
    int blankLines = 0;
    int width = 0;
    int height = 0;
    bool operator<(const Extent &other) const
    {
        if (blankLines != other.blankLines)
            return blankLines < other.blankLines;
        const int longest = std::max(width, height);
        const int otherLongest = std::max(other.width, other.height);
        return longest != otherLongest ? longest < otherLongest : width < other.width;
    }
};

// What a line needs of the height of its box, the rows from `top` to
// `bottom` (from the box's top).
struct LineInk {
    int top = 0;
    int bottom = 0;
};

// The cells' measures a line's extent is made of.
struct CellMeasures {
    std::vector<int> lineHeights; // of a line ending at each cell
    std::vector<int> ownHeights;  // of each cell's own text box
    std::vector<InkRows> ink;     // within each cell's own text box
    std::vector<int> widths;
    std::vector<bool> blank; // a space, which a line may start or end with unseen
    VertAlign align = VertAlign::Top;

    // How far the cells a line starts with reach before what it shows, and
    // how wide that is: blank cells at either end of a line stand outside
    // it, so a line break at a space leaves no gap at the edge.
    struct Span {
        int lead = 0;
        int width = 0;
        bool shows = false; // has a cell that is not a space
    };
    Span lineSpan(std::size_t begin, std::size_t end) const
    {
        Span span;
        for (; begin < end && blank[begin]; ++begin)
            span.lead += widths[begin];
        while (end > begin && blank[end - 1])
            --end;
        for (std::size_t i = begin; i < end; ++i)
            span.width += widths[i];
        span.shows = begin < end;
        return span;
    }

    // The ink of the line of cells [begin, end), each placed in the line's
    // box by the vertical alignment as painting places it.
    LineInk lineInk(std::size_t begin, std::size_t end) const
    {
        const int height = lineHeights[end - 1];
        LineInk line{height, 0};
        bool inked = false;
        for (std::size_t i = begin; i < end; ++i) {
            if (ink[i].bottom <= ink[i].top)
                continue; // a space draws nothing
            inked = true;
            const int spare = height - ownHeights[i];
            int above = 0; // from the line's top to the text box's
            int roundUp = 0;
            if (align == VertAlign::Middle) {
                above = spare / 2;
                roundUp = spare % 2 != 0 ? 1 : 0;
            } else if (align == VertAlign::Bottom) {
                above = spare;
            }
            line.top = std::min(line.top, above + ink[i].top);
            line.bottom = std::max(line.bottom, above + roundUp + ink[i].bottom);
        }
        return inked ? line : LineInk{0, height};
    }
};

struct BreakSearch {
    const std::vector<Cell> &cells;
    const CellMeasures &measures;
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
            const CellMeasures::Span span = measures.lineSpan(begin, end);
            extent.width = std::max(extent.width, span.width);
            extent.blankLines += span.shows ? 0 : 1;
            const LineInk ink = measures.lineInk(begin, end);
            extent.height += ink.bottom - ink.top + (line > 0 ? spacing : 0);
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
    CellMeasures measures;
    measures.align = strip.settings.vertAlign;
    for (const Cell &cell : strip.cells) {
        measures.lineHeights.push_back(
            measurer.measure(reference, measuringFont(strip.settings, cell.pointSize)).height());
        const FontRequest font = cellFont(strip.settings, cell);
        measures.ownHeights.push_back(measurer.measure(cell.text, font).height());
        measures.ink.push_back(measurer.inkRows(cell.text, font));
        measures.widths.push_back(cell.width);
        measures.blank.push_back(cell.text.trimmed().isEmpty());
    }
    BreakSearch search{strip.cells, measures, strip.settings.spacing, {}, {}, {}};
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
        const int height = measures.lineHeights[end - 1];
        // Lines are set by their ink: the box of one may reach into the
        // empty top or bottom of the next, and the first's may start above
        // the layout, where it has nothing to draw.
        const LineInk ink = measures.lineInk(begin, end);
        if (line > 0)
            laid.height += strip.settings.spacing;
        const int top = laid.height - ink.top;
        const CellMeasures::Span span = measures.lineSpan(begin, end);
        int x = lineLeft(strip.settings.horzAlign, bestWidth, span.width) - span.lead;
        for (std::size_t i = begin; i < end; ++i) {
            Cell &cell = laid.cells[i];
            cell.x = x;
            cell.y = top;
            cell.height = height;
            x += cell.width;
        }
        laid.height += ink.bottom - ink.top;
        begin = end;
    }
    return laid;
}
