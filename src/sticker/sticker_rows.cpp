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

StickerFit fitStripInRows(const StripLayout &layout, int rows, StickerSizeRule rule, int side,
                          const QMargins &margins, const std::atomic<bool> *cancel)
{
    checkStickerRows(rows);
    const auto fitIn = [&](int count) {
        // Laid out in rows here too, so that a strip small enough to keep
        // its natural size keeps its rows. A sticker is drawn anew anyway, so
        // unlike the strip it need not cut an italic slant at its cells' edges.
        FontTextMeasurer measurer;
        return fitStrip(inRows(withRoomForOverhang(layout), count, measurer), rule, side, margins, cancel);
    };
    if (rows != kAutomaticRows)
        return fitIn(rows);
    if (rule != StickerSizeRule::Square)
        return fitIn(1);

    std::optional<StickerFit> best;
    const int most = std::min(kMaxRows, int(layout.cells.size()));
    for (int count = 1; count <= std::max(most, 1); ++count) {
        StickerFit fit = fitIn(count);
        if (!best || fit.dpi > best->dpi)
            best = std::move(fit);
    }
    return *best;
}
