#pragma once

#include "composition/strip_layout.h"
#include "composition/text_measurer.h"

constexpr int kMaxRows = 4;

// `strip` (one row, as computeStripLayout() made it) with its cells broken
// into `rows` lines in reading order: each cell keeps its index, text, size,
// width and colour, so sizes still grow from the first character to the last,
// which ends the bottom line. The breaks make the longer side of the lines'
// box as short as they can, so that a square drawing of it is largest (ties:
// the narrower box, then the earlier breaks). A line's cells share a box as
// tall as the reference glyph at its largest size, so the vertical alignment
// puts them on one line as it does in the strip. Lines are set by their ink
// (TextMeasurer::inkRows(), with its air): the ink of one ends
// `settings.spacing` above the ink of the next, the first line's ink starts
// the layout and the last one's ends it, so boxes may reach beyond it and
// into each other where they draw nothing. The horizontal alignment places
// what each line shows in the widest line's width: spaces at either end of a
// line stand outside it, so that breaking at a space leaves no gap at the
// edge; a line of nothing but spaces is made only when no break avoids it.
// More rows than cells gives one cell a line. One row returns `strip`
// unchanged. Never throws.
StripLayout inRows(const StripLayout &strip, int rows, TextMeasurer &measurer);
