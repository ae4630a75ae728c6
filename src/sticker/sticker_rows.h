#pragma once

#include "composition/row_layout.h"
#include "sticker/sticker_fit.h"

constexpr int kAutomaticRows = 0;

// Throws QuillowError unless `rows` is kAutomaticRows or 1..kMaxRows.
void checkStickerRows(int rows);

// fitStrip() of `layout` (one row) in `rows` lines (see inRows()), every
// cell with room for its glyph's overhang (see withRoomForOverhang()).
// kAutomaticRows tries every count up to the cells' on a Square rule and
// keeps the one drawn at the highest dpi, that is with the largest smallest
// character (ties: fewer rows); on any other rule it is one row. The fit's layout carries its count.
// Throws what checkStickerRows() and fitStrip() throw.
StickerFit fitStripInRows(const StripLayout &layout, int rows, StickerSizeRule rule, int side,
                          const QMargins &margins, const std::atomic<bool> *cancel = nullptr);

// The fit for one of `kind`'s box rules (see StickerSizeRule): the largest
// drawing of `layout` in `rows` lines within the box with `margins` and the
// kind's margin, its canvas padded to even sides and, for FillsBox, to the
// box along the side it fills first. kAutomaticRows chooses the count as on a
// Square rule. Throws what fitStripInRows() throws.
StickerFit fitStripInKindBox(const StripLayout &layout, int rows, const StickerKind &kind,
                             const QMargins &margins, const std::atomic<bool> *cancel = nullptr);
