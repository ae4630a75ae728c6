#pragma once

#include "sticker/sticker.h"
#include "sticker/sticker_fit.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

// A banner cut into emoji is posted as a row of at most this many.
constexpr int kMaxTileColumns = 10;

// How a banner is cut: `columns` x `rows` tiles. Zero for both asks for one
// row of as many tiles as the shout needs when drawn at a tile's full height.
struct TileGrid {
    int columns = 0;
    int rows = 0;

    bool automatic() const { return columns == 0 && rows == 0; }
    friend bool operator==(const TileGrid &, const TileGrid &) = default;
};

// The tiles of one banner, in reading order (left to right, then the next
// row), each a square of the preset's side within its cap, all of the same
// frame count and delays so that they play together.
struct StickerTiles {
    std::vector<Sticker> tiles;
    TileGrid grid;        // as cut: never automatic
    double dpi = 0;       // what the shout was drawn at, for drawing the uncut banner alike
    QStringList warnings; // for the whole set, each once
    QString fitted;       // what the set gave up, as Sticker::fitted says it
};

// Parses "COLUMNSxROWS" (e.g. "3x1"; "X" and "×" work too) or "auto".
// Throws QuillowError with the user's message for anything else, or for a
// grid checkTileGrid() refuses.
TileGrid parseTileGrid(const QString &text);

// "auto", or "3x1".
QString tileGridText(TileGrid grid);

// Throws QuillowError unless `grid` is automatic, or has 1 .. kMaxTileColumns
// columns and 1 .. kMaxRows rows.
void checkTileGrid(TileGrid grid);

// The shout drawn once as large as fits on a canvas of grid.columns x
// grid.rows squares of `side` (an automatic grid: at the height of one
// square, as many squares wide as it needs), in grid.rows lines; the canvas
// is those squares. Throws as fitStripInBox() does, and for a grid
// checkTileGrid() refuses.
StickerFit fitTiles(const StripLayout &layout, TileGrid grid, int side, const QMargins &margins,
                    const std::atomic<bool> *cancel = nullptr);

// `animation`, whose frames are `columns` squares of `side` wide and as many
// high as they hold, cut into those squares, in reading order; each keeps
// every frame and its delay.
std::vector<Animation> cutIntoTiles(const Animation &animation, int columns, int side);

// The tiles of the shout `layout`, made as makeSticker() makes one sticker
// (the same options, the same drawing and the same encoders), then cut.
// Needs a preset whose chat shows emoji side by side (its emojiNames).
// When a tile is over the cap the whole set is made again with fewer
// colours (tile by tile) and then a shorter shake (all tiles alike, so they
// keep one timeline); the reveal keeps every step, and when no set fits,
// none is returned. Throws QuillowError with the user's message for what
// makeSticker() refuses, a preset that makes no tiles or no preset, a grid
// checkTileGrid() refuses, and a cap no set meets; StickerCancelled when
// `cancel` becomes true.
StickerTiles makeStickerTiles(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                              TileGrid grid, const std::atomic<bool> *cancel = nullptr);

// The tiles of `grid` (reading order, all of one size and timeline) side by
// side as a chat shows them posted together: `gap` transparent pixels
// between neighbours and between rows. Throws std::bad_alloc when the
// picture cannot be allocated.
Animation tilesSideBySide(const std::vector<Animation> &tiles, TileGrid grid, int gap);
