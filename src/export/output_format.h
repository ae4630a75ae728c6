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

// How a format's encoder can make a file smaller when it is over a cap.
enum class Shrinking {
    None,    // a still of the window's own: never fitted
    Palette, // fewer palette entries (APNG, GIF)
    Quality, // a lossy quality, 0 .. 100, then fewer palette entries (WebP)
    Video,   // VP9's constant quality; the frame rate is fixed
};

// One kind of file the program writes. Every caller (the window, the
// clipboard, the command line, the service, the sticker maker) finds
// everything about a format here, and nothing outside this table asks a
// format for its name to decide what to do; nothing depends on the order of
// the rows, except that lists shown to users follow it.
struct OutputFileFormat {
    QLatin1StringView name;                        // what --format says: "png", "gif", ...
    QLatin1StringView label;                       // how users read it: "PNG", "WebP", ...
    QLatin1StringView suffix;                      // the file name suffix it is saved with, no dot
    QLatin1StringView ownSuffix;                   // the suffix that chooses it in a file name ("apng" for
                                                   // the APNG, saved as ".png"); empty: only by name
    QLatin1StringView mimeType;                    // e.g. "image/gif"
    bool animated = false;                         // false: one picture, the animation's last frame
    bool stickerStill = false;                     // offered for a still sticker
    StripGround ground = StripGround::Transparent; // what to render the frames on
    Shrinking shrinking = Shrinking::None;
    bool takesMatte = false; // soft edges are blended onto a matte colour (one-bit transparency)
    int frameRate = 0;       // frames per second of a video; 0: each frame keeps its own delay
    // The same picture with a palette, which the cap can shrink: an RGBA PNG
    // fitted becomes an indexed APNG of one frame. Empty: this format itself.
    QLatin1StringView palettedAs;
    // The window's save dialog's name filter for its own pictures, as the
    // window has always shown it; empty for the sticker formats.
    QLatin1StringView windowFilter;
    // Encodes the whole file in memory. Throws QuillowError for frames or
    // options the format cannot take and when encoding fails; a still format
    // writes only the last frame. `frames` in the result counts the frames
    // in the file; `quality` is the palette's (0 .. 100), or -1 without one.
    EncodedAnimation (*encode)(const Animation &animation, const EncodeOptions &options) = nullptr;
    // The frames a viewer plays of a file in this format (see
    // decodeAnimation()).
    Animation (*decode)(const QByteArray &bytes, const OutputFileFormat &format) = nullptr;
    // The file's size for a picture of `width` x `height` pixels, for a
    // format that keeps every pixel as it is (BMP), known before drawing;
    // null for a format that compresses.
    qint64 (*uncompressedBytes)(qint64 width, qint64 height) = nullptr;
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

// The suffix of the file name at the end of `path`, without the dot; empty
// when it has none.
QStringView pathSuffix(QStringView path);

// The file name suffixes that name `format`, the one it is saved with first
// ("png" and "apng" for the APNG).
QStringList formatSuffixes(const OutputFileFormat &format);

// The format `format`'s pictures are fitted in (its palettedAs), or itself.
const OutputFileFormat &palettedForm(const OutputFileFormat &format);

// How a list's last two items are joined: "a、b 和 c", or "a、b 或 c".
enum class ListJoin { And, Or };

// The names (or, with `labels`, the labels) of the formats for which `keep`
// holds, in the table's order, joined as a Chinese list: "apng、gif 和 webp".
QString formatList(bool (*keep)(const OutputFileFormat &format), bool labels = false,
                   ListJoin join = ListJoin::And);

// Whether the format is one of the sticker's (transparent ground), and
// whether it animates; for formatList().
bool isStickerFormat(const OutputFileFormat &format);
bool isAnimatedFormat(const OutputFileFormat &format);
bool isStillFormat(const OutputFileFormat &format);

// "a、b 和 c" (or "a" or "a 和 b"): how a message lists things.
QString chineseList(const QStringList &items, ListJoin join = ListJoin::And);

// Encodes `animation` in `format` and creates or replaces the file at `path`
// with it (see writeFileReplacing() for the guarantees: the file is touched
// only once the whole encoding has succeeded). Returns what was written.
EncodedAnimation writeOutputFile(const OutputFileFormat &format, const Animation &animation,
                                 const EncodeOptions &options, const QString &path);
