#include "export/output_format.h"

#include "export/alpha_png.h"
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

const std::array<OutputFileFormat, 7> kFormats = {{
    {"png"_L1, "png"_L1, "image/png"_L1, false, StripGround::White, encodeIndexedPng},
    {"bmp"_L1, "bmp"_L1, "image/bmp"_L1, false, StripGround::White, encodeBmp},
    {"png-alpha"_L1, "png"_L1, "image/png"_L1, false, StripGround::Transparent, encodeAlphaPng},
    {"apng"_L1, "png"_L1, "image/apng"_L1, true, StripGround::Transparent, encodeApngFile},
    {"gif"_L1, "gif"_L1, "image/gif"_L1, true, StripGround::Transparent, encodeGifFile},
    {"webp"_L1, "webp"_L1, "image/webp"_L1, true, StripGround::Transparent, encodeWebpFile},
    {"webm"_L1, "webm"_L1, "video/webm"_L1, true, StripGround::Transparent, encodeWebmFile},
}};

// The suffixes that choose a format by themselves. "png" belongs to the
// still PNG: an animated PNG in a ".png" file is asked for by name.
const struct {
    QLatin1StringView suffix;
    QLatin1StringView format;
} kSuffixes[] = {
    {"png"_L1, "png"_L1},   {"bmp"_L1, "bmp"_L1},   {"gif"_L1, "gif"_L1},
    {"webp"_L1, "webp"_L1}, {"apng"_L1, "apng"_L1}, {"webm"_L1, "webm"_L1},
};

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

const OutputFileFormat *outputFormatForPath(QStringView path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype slash = path.lastIndexOf(u'/');
    if (dot < 0 || dot < slash)
        return nullptr;
    const QStringView suffix = path.mid(dot + 1);
    for (const auto &entry : kSuffixes) {
        if (suffix.compare(entry.suffix, Qt::CaseInsensitive) == 0)
            return formatCalled(entry.format);
    }
    return nullptr;
}

EncodedAnimation writeOutputFile(const OutputFileFormat &format, const Animation &animation,
                                 const EncodeOptions &options, const QString &path)
{
    const EncodedAnimation encoded = format.encode(animation, options);
    writeBytesReplacing(path, encoded.bytes);
    return encoded;
}
