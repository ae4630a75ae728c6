#pragma once

#include "composition/strip_layout.h"
#include "composition/text_measurer.h"

constexpr int kMaxRows = 4;

// `strip` (one row, as computeStripLayout() made it) with its cells broken
// into `rows` lines in reading order: each cell keeps its index, text, size,
// width and colour, so sizes still grow from the first character to the last,
// which ends the bottom line. The breaks make the longer side of the lines'
// box as short as they can, so that a square drawing of it is largest (ties:
// the narrower box, then the earlier breaks). A line is as tall as the reference
// glyph at its largest size, and its cells share that box, so the vertical
// alignment puts them on one line as it does in the strip; lines are
// `settings.spacing` apart and the horizontal alignment places each one in the
// widest line's width. More rows than cells gives one cell a line. One row
// returns `strip` unchanged. Asks `measurer` once per cell. Never throws.
StripLayout inRows(const StripLayout &strip, int rows, TextMeasurer &measurer);
