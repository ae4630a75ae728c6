#pragma once

#include "composition/effect_frames.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct OutputFileFormat;
struct StickerKind;
struct StickerPreset;

// What a sticker is written as, and the largest file that may be.
struct StickerFormatChoice {
    const OutputFileFormat *format = nullptr;
    const StickerKind *kind = nullptr; // the preset's rules for this sticker; null without a preset
    std::optional<qint64> cap;         // the kind's cap or the caller's, whichever is smaller
};

// The one rule every front end and the sticker maker follow. `asked` null
// takes the preset's first format for the sticker's kind (without a preset:
// an RGBA PNG for a still, an APNG for an animation). Throws QuillowError
// with the user's message when `asked` is a still format and `effect`
// animates, when it is one of the window's white-ground formats, when the
// preset takes no animation (its refusal), or when it takes the kind of
// sticker but not in `asked`.
StickerFormatChoice chooseStickerFormat(const StickerPreset *preset, Effect effect,
                                        const OutputFileFormat *asked, std::optional<qint64> maxBytes);

// The format a sticker is made in when none is named, the one rule of the
// window, the command line and the service: of stickerFormatsOffered() for
// `preset` and `effect`, the first that `typedSuffix` (the output's suffix,
// no dot, any case) names, or with no suffix the first of all. Throws
// QuillowError with the user's message when the preset takes no animation
// and `effect` animates, or when the suffix names none of the formats
// offered (the message lists them).
const OutputFileFormat &defaultStickerFormat(const StickerPreset *preset, Effect effect,
                                             QStringView typedSuffix);

// The part of chooseStickerFormat() that holds for any output: throws
// QuillowError when `format` is a still and `effect` animates.
void checkFormatAnimates(const OutputFileFormat &format, Effect effect);

// The user's message for a sticker that cannot be made within `choice`'s
// cap: the app's own cap text where it is the app's cap.
QString stickerCapMessage(const StickerPreset *preset, const StickerFormatChoice &choice);

// The formats a sticker for `preset` (null: no preset) can be saved in, the
// one made unless another is chosen first. With a preset, the formats its row
// names for a still or an animated sticker (none when it takes no animation);
// without one, every sticker format of the table that makes such a sticker
// (PNG, GIF and WebP for a still; APNG, GIF, WebP and WEBM for an animation).
std::vector<const OutputFileFormat *> stickerFormatsOffered(const StickerPreset *preset, bool animated);

// How the user reads `format`'s name: "PNG", "APNG", "GIF", "WebP".
QString stickerFormatLabel(const OutputFileFormat &format);

// A file dialog's name filter for `format`, e.g. "GIF 图片 (*.gif)".
QString stickerFormatFilter(const OutputFileFormat &format);

// Where a sticker goes and in what format, so that name and content agree.
struct StickerFile {
    QString path;
    const OutputFileFormat *format = nullptr;
};

// The file for the name the user typed: a suffix naming one of `offered`
// (ignoring case) chooses that format and the name stays; any other suffix,
// or none, keeps `fallback` and gets its suffix added. `fallback` is one of
// `offered`.
StickerFile stickerFileFor(const QString &typedPath, const std::vector<const OutputFileFormat *> &offered,
                           const OutputFileFormat &fallback);
