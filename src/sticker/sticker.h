#pragma once

#include "composition/animation.h"
#include "composition/effect_frames.h"
#include "composition/sticker_look.h"
#include "composition/strip_layout.h"

#include <QByteArray>
#include <QColor>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <optional>

struct OutputFileFormat;
struct StickerPreset;

// What a sticker adds to the strip: the chat preset, the effect, the output
// format and the look around the glyphs. Names typed by the user are read
// into these where they come in (the command line, a batch line, the
// window's settings); nothing here is a name to look up again.
struct StickerOptions {
    const StickerPreset *preset = nullptr; // a row of stickerPresets(); null: none
    Effect effect = Effect::Still;
    const OutputFileFormat *format = nullptr; // a row of outputFileFormats(); null: the preset's, or
                                              // png-alpha / apng by effect
    EffectTiming timing;
    StickerLook look;
    std::optional<QColor> matte;    // GIF: soft edges blended onto this ground
    int webpQuality = -1;           // -1: lossless
    std::optional<qint64> maxBytes; // a cap of the caller's own
    std::uint32_t seed = 0;         // the shake's trembling
    int rows = 0;                   // 1 .. 4 lines; 0: as many as make a square or box preset's
                                    // smallest character largest, one without such a preset
};

// One encoded sticker and what it is made of.
struct Sticker {
    QByteArray bytes;
    const OutputFileFormat *format = nullptr; // the row it is written in
    QSize size;                               // pixels
    int frames = 1;
    int colours = 0;           // palette entries; 0 for true colour
    int quality = 100;         // the palette's quality, 0 .. 100
    std::optional<qint64> cap; // the byte cap that held: the preset's or the caller's, the smaller
    Animation shown;           // the frames as encoded (after any thinning), before colour reduction
    QStringList warnings;      // in Chinese, e.g. a first character too small to read
    // What was given up to meet the cap or the app's frame limit, for the
    // user: "为满足 500 KB：有损压缩（质量 70）；抖动缩短为 4 帧"; empty when
    // the sticker is as asked. The reveal's steps are never given up.
    QString fitted;
    int encodes = 1;        // files made to meet the cap; 1 when the first one fitted
    qint64 capSearchNs = 0; // time spent on the encodes after the first, for measuring
};

// Makes the sticker of the coloured strip `layout` (laid out at 96 dpi, its
// cells' colours given; cells without one take `ink`).
//
// A preset redraws the strip at the dpi its size needs (glyphs drawn sharp,
// never resampled) and pads it to the exact size its rule names; without one
// the strip keeps its natural size. The outline, shadow and effect margins
// are part of that canvas. A file over the cap (the preset's, or
// `options.maxBytes`, whichever is smaller) is made again giving up first
// what leaves the effect as chosen: fewer colours (an RGBA PNG becoming an
// indexed one), a lossy WebP's quality or a video's; then, at the best of
// those that fits, a shake cycle of fewer poses (its length kept). Every
// step of a reveal stays. The best file that fits is returned, and
// `fitted` says what was given up.
//
// Throws QuillowError with the user's message for options that do not go
// together (chooseStickerFormat() tells which), a canvas that cannot hold the
// margins, a cap that cannot be met (the message names the cap), or a file
// that would break another rule of the preset's row: its size, frame count,
// frame times or length. When `cancel` becomes true
// the work stops between frames or encodes by throwing StickerCancelled. The
// same layout, ink and options give the same bytes.
Sticker makeSticker(const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                    const std::atomic<bool> *cancel = nullptr);

// Thrown by makeSticker() when asked to stop; carries no message for the user.
struct StickerCancelled {};
