#pragma once

#include "composition/animation.h"
#include "composition/font_request.h"
#include "composition/strip_layout.h"

#include <QLatin1StringView>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>
#include <vector>

struct StickerLook;

// How the strip moves: a still picture, the characters appearing one by one,
// the whole strip trembling, or both.
enum class Effect { Still, Reveal, Shake, RevealShake };

// What every front end knows of an effect: the name the command line and
// batch lines take, the window's label, and whether it makes more than one
// frame.
struct EffectRow {
    Effect effect;
    QLatin1StringView name; // "still", "reveal", "shake", "reveal-shake"
    const char *label;      // UTF-8, e.g. "逐字出现"
    bool animates = false;
};

// Every effect, the still first; nothing depends on the order of the rest.
std::span<const EffectRow> effectRows();

// The row of `effect`.
const EffectRow &effectRow(Effect effect);

// The name an effect goes by on the command line and in batch lines.
QString effectName(Effect effect);

// Every effect's name, in the table's order, for help texts.
QStringList effectNames();

// The effect named `name` (case and surrounding spaces ignored). Throws
// QuillowError naming the accepted names when there is none of that name.
Effect effectFromName(const QString &name);

// How long the frames of a reveal show, in milliseconds.
struct EffectTiming {
    int frameMs = 120; // each character's appearance
    int holdMs = 1500; // the whole strip, before the animation starts again
};

constexpr int kMinFrameMs = 10;
constexpr int kMaxFrameMs = 10000;
constexpr int kMaxHoldMs = 60000;

// Throws QuillowError (the user's message) when frameMs is outside
// kMinFrameMs..kMaxFrameMs or holdMs outside 0..kMaxHoldMs.
void checkEffectTiming(const EffectTiming &timing);

// A shake moves every character by at most this many logical pixels in x and
// in y, and the canvas of a shaking effect is this much larger on every side.
constexpr int kShakeReach = 3;
constexpr int kShakeFrames = 6; // one shake cycle
constexpr int kShakeFrameMs = 60;

// One cell in one frame: shown or hidden, and moved from its place by
// `offset` logical pixels.
struct CellPose {
    bool shown = true;
    QPoint offset;
    friend bool operator==(const CellPose &, const CellPose &) = default;
};

// One frame before it is painted: a pose for every cell of the layout, in the
// layout's order, and how long the frame shows.
struct FramePlan {
    std::vector<CellPose> poses;
    int delayMs = 0;
};

// The frames of an effect and the margin, in logical pixels, the canvas has
// around the strip on every side.
struct EffectPlan {
    int margin = 0;
    std::vector<FramePlan> frames;
};

// What `effect` shows of `layout`:
// - Still: one frame with every cell at rest, delay 0;
// - Reveal: frame k (1-based) shows cells 1..k at rest, each for
//   timing.frameMs; the last one, the whole strip, also holds for
//   timing.holdMs;
// - Shake: kShakeFrames frames of kShakeFrameMs with every cell offset by
//   -kShakeReach..kShakeReach in x and y, margin kShakeReach;
// - RevealShake: the reveal's frames at timing.frameMs, two shake cycles (the
//   same offsets twice), then the whole strip at rest for timing.holdMs,
//   margin kShakeReach.
// The offsets come from a small generator of their own seeded by `seed`: the
// same seed gives the same offsets, and drawing them takes nothing from the
// colour generator, so a strip keeps the colours of its still. A layout
// without cells gives no frames. Does not check the timing.
EffectPlan planEffect(const StripLayout &layout, Effect effect, const EffectTiming &timing,
                      std::uint32_t seed);

// The strip drawn with every cell as `poses` says (one pose per cell), on a
// transparent canvas `margin` logical pixels larger than the strip on every
// side: round((width + 2 margin) x ratio) x round((height + 2 margin) x ratio)
// physical pixels in Format_ARGB32_Premultiplied carrying the ratio. With
// margin 0 and every cell shown at rest these are exactly the pixels of
// renderStrip(layout, StripGround::Transparent, ink, devicePixelRatio, dpi); a
// moved cell takes its clip along, so nothing of it is cut by its neighbour's
// place. A layout with zero width or height gives a null image.
QImage renderPosedStrip(const StripLayout &layout, const QColor &ink, const std::vector<CellPose> &poses,
                        int margin, qreal devicePixelRatio = 1.0, double dpi = kDesignDpi);

// The animation of `effect`, cells without a colour of their own in `ink`: the frames planEffect() describes,
// each painted by renderPosedStrip() and dressed by applyStickerLook(), so every frame is a whole canvas of
// the same size. Loops forever. Frames with the same poses share one image. A layout with zero width or
// height gives no frames. Throws QuillowError when the timing or the look is out of range (before anything is
// drawn).
Animation renderEffect(const StripLayout &layout, const QColor &ink, Effect effect,
                       const EffectTiming &timing, const StickerLook &look, std::uint32_t seed,
                       qreal devicePixelRatio = 1.0, double dpi = kDesignDpi);
