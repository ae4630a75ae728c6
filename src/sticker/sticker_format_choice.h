#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct OutputFileFormat;
struct StickerPreset;

// The formats a sticker for `preset` (null: no preset) can be saved in, the
// one made unless another is chosen first. With a preset, the formats its row
// names for a still or an animated sticker (none when it takes no animation);
// without one, PNG, GIF and WebP for a still and APNG, GIF and WebP for an
// animation.
std::vector<const OutputFileFormat *> stickerFormatsOffered(const StickerPreset *preset, bool animated);

// How the user reads `format`'s name: "PNG", "APNG", "GIF", "WebP".
QString stickerFormatLabel(const OutputFileFormat &format);

// The file name suffixes that name `format`, its own first ("png" and
// "apng" for the APNG).
QStringList stickerFormatSuffixes(const OutputFileFormat &format);

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
