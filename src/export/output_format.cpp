#include "export/output_format.h"

#include "export/alpha_png.h"
#include "export/animation_decoding.h"
#include "export/apng_writer.h"
#include "export/bmp_writer.h"
#include "export/export_errors.h"
#include "export/file_output.h"
#include "export/gif_writer.h"
#include "export/halftone_palette.h"
#include "export/png_writer.h"
#include "export/raster.h"
#include "export/webp_writer.h"

#include <QBuffer>

#include <array>

namespace {

using namespace Qt::Literals::StringLiterals;

// A still format's writer, given the last frame, into memory.
template <typename Write> EncodedAnimation encodeStill(const Animation &animation, Write write)
{
    if (animation.frames.empty())
        throw noFramesError();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    write(animation.frames.back().image, buffer);
    return {bytes, 1, -1, {}};
}

EncodedAnimation encodeIndexedPng(const Animation &animation, const EncodeOptions &)
{
    return encodeStill(animation, [](const QImage &image, QIODevice &device) {
        const Raster picture = rasterFromImage(image);
        if (picture.width <= 0 || picture.height <= 0)
            throw emptyPictureError();
        writePng(reduce(picture), device);
    });
}

EncodedAnimation encodeBmp(const Animation &animation, const EncodeOptions &)
{
    return encodeStill(
        animation, [](const QImage &image, QIODevice &device) { writeBmp(rasterFromImage(image), device); });
}

EncodedAnimation encodeAlphaPng(const Animation &animation, const EncodeOptions &)
{
    return encodeStill(animation,
                       [](const QImage &image, QIODevice &device) { writeAlphaPng(image, device); });
}

EncodedAnimation encodeApngFile(const Animation &animation, const EncodeOptions &options)
{
    ApngOptions apng;
    apng.maxColours = options.maxColours;
    // Fewer colours than a full palette are asked for to make the file
    // smaller; falling back to RGBA when the palette is poor would make it
    // larger instead, and no cap could ever be met by giving up colours.
    if (options.maxColours < kFullPaletteColours)
        apng.minPaletteQuality = 0;
    return encodeApng(animation, apng);
}

EncodedAnimation encodeGifFile(const Animation &animation, const EncodeOptions &options)
{
    GifOptions gif;
    gif.maxColours = options.maxColours;
    gif.matte = options.matte;
    return encodeGif(animation, gif);
}

EncodedAnimation encodeWebpFile(const Animation &animation, const EncodeOptions &options)
{
    WebpOptions webp;
    webp.quality = options.quality;
    webp.keepEveryFrame = options.keepEveryFrame;
    return encodeWebp(animation, webp);
}

EncodedAnimation encodeWebmFile(const Animation &animation, const EncodeOptions &options)
{
    WebmOptions webm;
    webm.crf = options.webmCrf;
    return encodeWebm(animation, webm);
}

// Palettes and lossy qualities shrink a file; the window's own stills keep
// the bytes they have always had, and are never fitted.
// clang-format off
// A BMP keeps 4 bytes for every pixel after its 54-byte headers (see writeBmp()).
qint64 bmpFileBytes(qint64 width, qint64 height)
{
    return 54 + 4 * width * height;
}

const std::array<OutputFileFormat, 7> kFormats = {{
    {"png"_L1, "PNG"_L1, "png"_L1, "png"_L1, "image/png"_L1, false, false, StripGround::White,
     Shrinking::None, false, 0, {}, "Png (*.png)"_L1, encodeIndexedPng, decodeWithQt},
    {"bmp"_L1, "BMP"_L1, "bmp"_L1, "bmp"_L1, "image/bmp"_L1, false, false, StripGround::White,
     Shrinking::None, false, 0, {}, "Bitmaps (*.bmp)"_L1, encodeBmp, decodeWithQt, bmpFileBytes},
    {"png-alpha"_L1, "PNG"_L1, "png"_L1, {}, "image/png"_L1, false, true, StripGround::Transparent,
     Shrinking::Palette, false, 0, "apng"_L1, {}, encodeAlphaPng, decodeWithQt},
    {"apng"_L1, "APNG"_L1, "png"_L1, "apng"_L1, "image/apng"_L1, true, false, StripGround::Transparent,
     Shrinking::Palette, false, 0, {}, {}, encodeApngFile, decodeApng},
    {"gif"_L1, "GIF"_L1, "gif"_L1, "gif"_L1, "image/gif"_L1, true, true, StripGround::Transparent,
     Shrinking::Palette, true, 0, {}, {}, encodeGifFile, decodeWithQt},
    {"webp"_L1, "WebP"_L1, "webp"_L1, "webp"_L1, "image/webp"_L1, true, true, StripGround::Transparent,
     Shrinking::Quality, false, 0, {}, {}, encodeWebpFile, decodeWebp},
    {"webm"_L1, "WEBM"_L1, "webm"_L1, "webm"_L1, "video/webm"_L1, true, false, StripGround::Transparent,
     Shrinking::Video, false, WebmOptions().frameRate, {}, {}, encodeWebmFile, decodeWebm},
}};
// clang-format on

template <typename Name> const OutputFileFormat *formatCalled(Name name)
{
    for (const OutputFileFormat &format : kFormats) {
        if (name == format.name)
            return &format;
    }
    return nullptr;
}

} // namespace

std::span<const OutputFileFormat> outputFileFormats()
{
    return kFormats;
}

const OutputFileFormat *outputFormatNamed(QStringView name)
{
    return formatCalled(name);
}

QStringView pathSuffix(QStringView path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype slash = path.lastIndexOf(u'/');
    if (dot < 0 || dot < slash)
        return {};
    return path.mid(dot + 1);
}

const OutputFileFormat *outputFormatForPath(QStringView path)
{
    const QStringView suffix = pathSuffix(path);
    if (suffix.isEmpty())
        return nullptr;
    for (const OutputFileFormat &format : kFormats) {
        if (!format.ownSuffix.isEmpty() && suffix.compare(format.ownSuffix, Qt::CaseInsensitive) == 0)
            return &format;
    }
    return nullptr;
}

QStringList formatSuffixes(const OutputFileFormat &format)
{
    QStringList suffixes{format.suffix.toString()};
    if (!format.ownSuffix.isEmpty() && format.ownSuffix != format.suffix)
        suffixes << format.ownSuffix.toString();
    return suffixes;
}

const OutputFileFormat &palettedForm(const OutputFileFormat &format)
{
    if (format.palettedAs.isEmpty())
        return format;
    const OutputFileFormat *paletted = formatCalled(format.palettedAs);
    Q_ASSERT(paletted);
    return *paletted;
}

bool isStickerFormat(const OutputFileFormat &format)
{
    return format.ground == StripGround::Transparent;
}

bool isAnimatedFormat(const OutputFileFormat &format)
{
    return format.animated;
}

bool isStillFormat(const OutputFileFormat &format)
{
    return !format.animated;
}

QString chineseList(const QStringList &items, ListJoin join)
{
    if (items.size() < 2)
        return items.value(0);
    return items.mid(0, items.size() - 1).join(QStringLiteral("、")) +
           (join == ListJoin::And ? QStringLiteral(" 和 ") : QStringLiteral(" 或 ")) + items.back();
}

QString formatList(bool (*keep)(const OutputFileFormat &format), bool labels, ListJoin join)
{
    QStringList names;
    for (const OutputFileFormat &format : kFormats) {
        const QString name = (labels ? format.label : format.name).toString();
        if (keep(format) && !names.contains(name))
            names << name;
    }
    return chineseList(names, join);
}

EncodedAnimation writeOutputFile(const OutputFileFormat &format, const Animation &animation,
                                 const EncodeOptions &options, const QString &path)
{
    const EncodedAnimation encoded = format.encode(animation, options);
    writeBytesReplacing(path, encoded.bytes);
    return encoded;
}
