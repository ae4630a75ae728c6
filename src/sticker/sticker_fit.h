#pragma once

#include "composition/animation.h"
#include "composition/strip_layout.h"
#include "sticker/sticker_preset.h"

#include <QColor>
#include <QMargins>
#include <QSize>

#include <atomic>

// The strip of `layout` laid out afresh with glyphs measured at `dpi`, the
// spacing scaled with it, so that painting at `dpi` draws every glyph sharp at
// its new size, in as many rows as `layout`, every cell with room for what
// its glyph draws beyond it (see withRoomForOverhang()). Cell i keeps the
// colour of `layout`'s cell i, or its lack of one. Throws only std::bad_alloc.
StripLayout layoutAtDpi(const StripLayout &layout, double dpi);

// Where a sticker's strip ends up: the dpi it is drawn at, the strip laid out
// at that dpi, and the canvas every frame is padded to.
struct StickerFit {
    double dpi = kDesignDpi;
    StripLayout layout;
    QSize canvas; // the strip plus `margins`, padded as the size rule says
};

// Fits the strip to `rule` and `side` (see StickerSizeRule). `margins` is what
// the effect, outline and shadow add around the strip, in pixels at any dpi.
// Because measuring rounds, the dpi is searched: the strip plus margins is as
// large as it can be without its longest side exceeding `side` (and, for
// NaturalAtMost, never larger than at 96 dpi). Throws QuillowError when even
// the smallest legible drawing does not fit (margins alone too large), and
// StickerCancelled when `cancel` becomes true.
StickerFit fitStrip(const StripLayout &layout, StickerSizeRule rule, int side, const QMargins &margins,
                    const std::atomic<bool> *cancel = nullptr);

// The largest drawing of `layout` (in as many rows as it has) that, with
// `margins`, lies within `box`; its canvas is that drawing with the margins,
// unpadded. Throws as fitStrip() does.
StickerFit fitStripInBox(const StripLayout &layout, QSize box, const QMargins &margins,
                         const std::atomic<bool> *cancel = nullptr);

// Every frame of `animation` centred on a transparent canvas of `canvas`
// (integer division puts an odd pixel right and below). `canvas` is at least
// the frames' size.
Animation centredOnCanvas(const Animation &animation, QSize canvas);

// `animation` with its first `revealFrames` frames thinned to `keep` (at
// least 2): the first and the last of them stay, the ones kept between are
// spread evenly, and each kept frame also shows for the time of the frames
// dropped after it, so the whole lasts as long as before. Frames after the
// reveal are unchanged.
Animation withFewerRevealFrames(const Animation &animation, int revealFrames, int keep);

// `animation` with each of its `cycles` shake cycles, the first starting at
// frame `firstShakeFrame`, thinned to `keep` frames (at least 2) the way
// withFewerRevealFrames() thins the reveal: the shake trembles in fewer
// poses for as long as before, and every other frame is unchanged.
Animation withShorterShake(const Animation &animation, int firstShakeFrame, int cycles, int cycleFrames,
                           int keep);
