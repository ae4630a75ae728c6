#include "sticker/sticker_rows.h"

#include "composition/quillow_error.h"
#include "composition/row_layout.h"
#include "composition/strip_rendering.h"

#include <algorithm>
#include <optional>

void checkStickerRows(int rows)
{
    if (rows != kAutomaticRows && (rows < 1 || rows > kMaxRows))
        throw QuillowError(QStringLiteral("行数须为 1 到 %1，或 auto（自动）").arg(kMaxRows));
}

namespace {

// A sticker is drawn anew, so unlike the strip it need not cut an italic
// slant at its cells' edges.
StripLayout inStickerRows(const StripLayout &layout, int count)
{
    FontTextMeasurer measurer;
    return inRows(withRoomForOverhang(layout), count, measurer);
}

// fitIn(count) for every row count up to the cells', keeping the fit drawn
// at the highest dpi (ties: fewer rows).
template <typename FitIn> StickerFit largestInAnyRows(const StripLayout &layout, const FitIn &fitIn)
{
    std::optional<StickerFit> best;
    const int most = std::min(kMaxRows, int(layout.cells.size()));
    for (int count = 1; count <= std::max(most, 1); ++count) {
        StickerFit fit = fitIn(count);
        if (!best || fit.dpi > best->dpi)
            best = std::move(fit);
    }
    return *best;
}

} // namespace

StickerFit fitStripInRows(const StripLayout &layout, int rows, StickerSizeRule rule, int side,
                          const QMargins &margins, const std::atomic<bool> *cancel)
{
    checkStickerRows(rows);
    const auto fitIn = [&](int count) {
        // Laid out in rows here too, so that a strip small enough to keep
        // its natural size keeps its rows.
        return fitStrip(inStickerRows(layout, count), rule, side, margins, cancel);
    };
    if (rows != kAutomaticRows)
        return fitIn(rows);
    if (rule != StickerSizeRule::Square)
        return fitIn(1);
    return largestInAnyRows(layout, fitIn);
}

StickerFit fitStripInKindBox(const StripLayout &layout, int rows, const StickerKind &kind,
                             const QMargins &margins, const std::atomic<bool> *cancel)
{
    Q_ASSERT(isBoxRule(kind.sizeRule));
    checkStickerRows(rows);
    const QSize box(kind.side, kind.height);
    const QMargins clear(kind.margin, kind.margin, kind.margin, kind.margin);
    const auto fitIn = [&](int count) {
        StickerFit fit = fitStripInBox(inStickerRows(layout, count), box, margins + clear, cancel);
        // Padding never leaves the box: its sides are even.
        QSize &canvas = fit.canvas;
        canvas = QSize(std::min(canvas.width() + canvas.width() % 2, box.width()),
                       std::min(canvas.height() + canvas.height() % 2, box.height()));
        if (kind.sizeRule == StickerSizeRule::FillsBox) {
            if (qint64(canvas.width()) * box.height() >= qint64(canvas.height()) * box.width())
                canvas.setWidth(box.width());
            else
                canvas.setHeight(box.height());
        }
        return fit;
    };
    if (rows != kAutomaticRows)
        return fitIn(rows);
    return largestInAnyRows(layout, fitIn);
}
