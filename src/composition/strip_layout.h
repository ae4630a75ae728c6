#pragma once

#include "composition/strip_settings.h"
#include "composition/text_measurer.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

constexpr int kLargestPointSize = 110;
constexpr int kPointStep = 10;
constexpr char16_t kReferenceGlyph = u'我';
static_assert(kLargestPointSize - kPointStep * (kMaxPhraseLength - 1) == 20,
              "the smallest character must stay readable");

// One character's cell, one per character a reader sees in the trimmed phrase
// (see graphemeClusters()).
struct Cell {
    std::int32_t index = 0;            // 0-based, left to right
    QString text;                      // the character's code units, one or more
    std::int32_t pointSize = 0;        // 110 - 10 * (n - 1 - index)
    std::int32_t x = 0;                // left edge inside the strip
    std::int32_t width = 0;            // reference width at pointSize + spacing
    std::int32_t height = 0;           // the strip height, or its row's in a layout of rows
    std::optional<ColourValue> colour; // empty: the caller's ink
    std::int32_t y = 0;                // top edge inside the strip; 0 in one row
    // Room at each side of the cell for what its glyph draws beyond the
    // text box (an italic slant), included in `width`; 0 in the strip, where
    // a glyph is cut at its cell's edge.
    std::int32_t overhangLeft = 0;
    std::int32_t overhangRight = 0;
};

// The geometry of the strip and where the output area sits in the preview
// region.
struct StripLayout {
    std::vector<Cell> cells; // left to right
    std::int32_t width = 0;  // sum of the cell widths
    std::int32_t height = 0; // reference height at 110 points
    std::int32_t left = 0;   // output area position in the preview region
    std::int32_t top = 0;
    StripSettings settings;
    std::int32_t rows = 1; // lines the cells are laid out in (see inRows())
    // Every glyph drawn whole, an italic one as its slanted outline, with
    // room for it in its cell (see withRoomForOverhang()); false in the
    // strip, whose cells cut what reaches beyond them.
    bool wholeGlyphs = false;
};

// Lays the trimmed phrase out, one cell per grapheme cluster: walks it from
// its last cluster to its first at 110, 100, ... points, each cell as wide as the reference glyph at its
// size plus the spacing and as tall as the reference glyph at 110 points,
// and centres the strip in `previewRegion` (integer division truncating
// toward zero, so a strip wider than the region gets a negative left).
// Asks `measurer` at most 11 times. Never throws.
StripLayout computeStripLayout(const StripSettings &settings, TextMeasurer &measurer, QSize previewRegion);

// The request measuring uses: the face at `pointSize`, regular style.
FontRequest measuringFont(const StripSettings &settings, int pointSize);

// The request a cell paints with: the face at the cell's size with the
// settings' four style flags.
FontRequest cellFont(const StripSettings &settings, const Cell &cell);
