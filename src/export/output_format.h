#pragma once

#include "composition/animation.h"
#include "composition/strip_rendering.h"
#include "export/animation_frames.h"
#include "export/webm_writer.h"

#include <QColor>
#include <QLatin1StringView>
#include <QStringList>

#include <optional>
#include <span>

constexpr int kFullPaletteColours = 256;

// What a caller may tune in an encoder; each format reads what concerns it
// and ignores the rest.
struct EncodeOptions {
    int maxColours = kFullPaletteColours; // APNG, GIF: 2 .. 256 palette entries
    int quality = -1;                     // WebP: -1 lossless, 0 .. 100 lossy
    std::optional<QColor> matte;          // GIF: blend soft edges onto this first
    int webmCrf = kDefaultWebmCrf;        // WEBM: VP9's constant quality, 0 .. 63, higher smaller
    bool keepEveryFrame = false;          // WebP: equal neighbouring frames are not merged
};

// One kind of file the program writes. Every caller (the window, the
// clipboard, the command line) finds formats here; nothing depends on the
// order of the rows.
struct OutputFileFormat {
    QLatin1StringView name;                        // what --format says: "png", "gif", ...
    QLatin1StringView suffix;                      // the file name suffix it is saved with, no dot
    QLatin1StringView mimeType;                    // e.g. "image/gif"
    bool animated = false;                         // false: one picture, the animation's last frame
    StripGround ground = StripGround::Transparent; // what to render the frames on
    // Encodes the whole file in memory. Throws QuillowError for frames or
    // options the format cannot take and when encoding fails; a still format
    // writes only the last frame. `frames` in the result counts the frames
    // in the file; `quality` is the palette's (0 .. 100), or -1 without one.
    EncodedAnimation (*encode)(const Animation &animation, const EncodeOptions &options) = nullptr;
};

// Every format: "png" (the still, indexed on the halftone palette with white
// transparent), "bmp", "png-alpha" (RGBA with soft edges), "apng", "gif",
// "webp", "webm" (VP9 video with alpha, 30 fps, at most 3 s).
std::span<const OutputFileFormat> outputFileFormats();

// The format called `name` (exactly, as listed above), or null.
const OutputFileFormat *outputFormatNamed(QStringView name);

// The format a file name's suffix chooses, ignoring case: ".png" the still
// PNG, ".bmp", ".gif", ".webp", ".webm", and ".apng" the animated PNG; null for any
// other suffix (and for none). A ".png" file is animated only when the APNG
// format is asked for by name.
const OutputFileFormat *outputFormatForPath(QStringView path);

// Encodes `animation` in `format` and creates or replaces the file at `path`
// with it (see writeFileReplacing() for the guarantees: the file is touched
// only once the whole encoding has succeeded). Returns what was written.
EncodedAnimation writeOutputFile(const OutputFileFormat &format, const Animation &animation,
                                 const EncodeOptions &options, const QString &path);
