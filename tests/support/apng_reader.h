#pragma once

// A small APNG reader for the tests, written from the PNG standard and the
// APNG extension alone and sharing nothing with the writers: it checks every
// chunk's CRC and the sequence numbers, inflates each frame, undoes the five
// row filters, and plays the frames through their blend and dispose
// operations to give the canvases a viewer shows.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

struct ApngShownFrame {
    QImage image; // the whole canvas as shown, Format_ARGB32 (straight alpha)
    double delayMs = 0;
};

struct ApngContents {
    int width = 0;
    int height = 0;
    int colourType = 0;
    int plays = -1;         // acTL's num_plays; -1 without acTL
    int declaredFrames = 0; // acTL's num_frames
    bool defaultIsFrame = false;
    QImage defaultImage; // what a viewer without APNG support shows
    std::vector<ApngShownFrame> frames;
    std::vector<QByteArray> chunkTypes; // in file order
};

namespace apng_detail {

inline std::uint32_t be32(const char *at)
{
    return qFromBigEndian<std::uint32_t>(at);
}

inline void fail(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}

struct FrameControl {
    int width = 0, height = 0, x = 0, y = 0;
    double delayMs = 0;
    int dispose = 0, blend = 0;
};

inline QImage decodeImage(const QByteArray &stream, int width, int height, int colourType,
                          const std::vector<QRgb> &palette)
{
    const int bytesPerPixel = colourType == 3 ? 1 : 4;
    const std::size_t rowBytes = std::size_t(width) * std::size_t(bytesPerPixel);
    std::vector<std::uint8_t> raw((rowBytes + 1) * std::size_t(height));
    uLongf size = uLongf(raw.size());
    if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef *>(stream.constData()),
                   uLong(stream.size())) != Z_OK ||
        size != raw.size())
        fail(QStringLiteral("image data does not inflate to %1 bytes").arg(raw.size()));
    std::vector<std::uint8_t> rows(rowBytes * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = raw.data() + std::size_t(y) * (rowBytes + 1);
        std::uint8_t *out = rows.data() + std::size_t(y) * rowBytes;
        const std::uint8_t *up = y > 0 ? out - rowBytes : nullptr;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= std::size_t(bytesPerPixel) ? out[i - std::size_t(bytesPerPixel)] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= std::size_t(bytesPerPixel) ? up[i - std::size_t(bytesPerPixel)] : 0;
            int predictor = 0;
            switch (in[0]) {
            case 0:
                break;
            case 1:
                predictor = a;
                break;
            case 2:
                predictor = b;
                break;
            case 3:
                predictor = (a + b) / 2;
                break;
            case 4: {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                break;
            }
            default:
                fail(QStringLiteral("unknown filter type %1").arg(in[0]));
            }
            out[i] = std::uint8_t(in[1 + i] + predictor);
        }
    }
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t *p = rows.data() + std::size_t(y) * rowBytes + std::size_t(x * bytesPerPixel);
            if (colourType == 3) {
                if (*p >= palette.size())
                    fail(QStringLiteral("index %1 beyond the palette").arg(*p));
                image.setPixel(x, y, palette[*p]);
            } else {
                image.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
            }
        }
    }
    return image;
}

// The PNG standard's "over" in straight alpha.
inline QRgb over(QRgb source, QRgb target)
{
    const int sa = qAlpha(source), da = qAlpha(target);
    if (sa == 255 || da == 0)
        return source;
    if (sa == 0)
        return target;
    const double s = sa / 255.0, d = da / 255.0 * (1 - s), a = s + d;
    auto mix = [&](int sc, int dc) { return int(std::lround((sc * s + dc * d) / a)); };
    return qRgba(mix(qRed(source), qRed(target)), mix(qGreen(source), qGreen(target)),
                 mix(qBlue(source), qBlue(target)), int(std::lround(a * 255)));
}

} // namespace apng_detail

// Reads `file`; throws std::runtime_error saying what is wrong.
inline ApngContents readApng(const QByteArray &file)
{
    using namespace apng_detail;
    ApngContents contents;
    if (!file.startsWith(QByteArray::fromHex("89504e470d0a1a0a")))
        fail(QStringLiteral("no PNG signature"));
    std::vector<QRgb> palette;
    std::vector<FrameControl> controls;
    std::vector<QByteArray> streams; // per frame, in order
    QByteArray defaultStream;
    bool seenIdat = false, seenIend = false;
    std::uint32_t nextSequence = 0;
    qsizetype at = 8;
    while (at < file.size()) {
        if (at + 12 > file.size())
            fail(QStringLiteral("chunk cut short"));
        const std::uint32_t length = be32(file.constData() + at);
        const QByteArray type = file.mid(at + 4, 4);
        if (at + 12 + qsizetype(length) > file.size())
            fail(QStringLiteral("chunk %1 cut short").arg(QString::fromLatin1(type)));
        const QByteArray data = file.mid(at + 8, length);
        const std::uint32_t crc = be32(file.constData() + at + 8 + length);
        const uLong computed = crc32(crc32(0, reinterpret_cast<const Bytef *>(type.constData()), 4),
                                     reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()));
        if (crc != computed)
            fail(QStringLiteral("bad CRC on %1").arg(QString::fromLatin1(type)));
        contents.chunkTypes.push_back(type);
        at += 12 + length;
        if (type == "IHDR") {
            contents.width = int(be32(data.constData()));
            contents.height = int(be32(data.constData() + 4));
            contents.colourType = std::uint8_t(data[9]);
            if (data[8] != 8 || (contents.colourType != 3 && contents.colourType != 6) || data[12] != 0)
                fail(QStringLiteral("header this reader does not know"));
        } else if (type == "PLTE") {
            for (qsizetype i = 0; i + 2 < data.size(); i += 3)
                palette.push_back(
                    qRgb(std::uint8_t(data[i]), std::uint8_t(data[i + 1]), std::uint8_t(data[i + 2])));
        } else if (type == "tRNS") {
            for (qsizetype i = 0; i < data.size() && i < qsizetype(palette.size()); ++i)
                palette[std::size_t(i)] =
                    (palette[std::size_t(i)] & 0xffffff) | (std::uint32_t(std::uint8_t(data[i])) << 24);
        } else if (type == "acTL") {
            contents.declaredFrames = int(be32(data.constData()));
            contents.plays = int(be32(data.constData() + 4));
        } else if (type == "fcTL" || type == "fdAT") {
            if (be32(data.constData()) != nextSequence++)
                fail(QStringLiteral("sequence number out of order"));
            if (type == "fcTL") {
                FrameControl control;
                control.width = int(be32(data.constData() + 4));
                control.height = int(be32(data.constData() + 8));
                control.x = int(be32(data.constData() + 12));
                control.y = int(be32(data.constData() + 16));
                const int num = qFromBigEndian<std::uint16_t>(data.constData() + 20);
                int den = qFromBigEndian<std::uint16_t>(data.constData() + 22);
                control.delayMs = 1000.0 * num / (den == 0 ? 100 : den);
                control.dispose = std::uint8_t(data[24]);
                control.blend = std::uint8_t(data[25]);
                if (control.width <= 0 || control.height <= 0 || control.x + control.width > contents.width ||
                    control.y + control.height > contents.height || control.dispose > 2 || control.blend > 1)
                    fail(QStringLiteral("frame control out of bounds"));
                if (!seenIdat && !controls.empty())
                    fail(QStringLiteral("two fcTL before IDAT"));
                if (!seenIdat) {
                    contents.defaultIsFrame = true;
                    if (control.x != 0 || control.y != 0 || control.width != contents.width ||
                        control.height != contents.height)
                        fail(QStringLiteral("the default image's frame must cover the canvas"));
                }
                controls.push_back(control);
                streams.emplace_back();
            } else {
                if (!seenIdat || streams.empty() || (contents.defaultIsFrame && streams.size() == 1))
                    fail(QStringLiteral("fdAT without its fcTL"));
                streams.back() += data.mid(4);
            }
        } else if (type == "IDAT") {
            if (!streams.empty() && !contents.defaultIsFrame)
                fail(QStringLiteral("IDAT after the frames"));
            seenIdat = true;
            defaultStream += data;
            if (contents.defaultIsFrame)
                streams.front() += data;
        } else if (type == "IEND") {
            seenIend = true;
            break;
        }
    }
    if (!seenIend || !seenIdat)
        fail(QStringLiteral("no IDAT or no IEND"));
    if (contents.plays >= 0 && int(controls.size()) != contents.declaredFrames)
        fail(QStringLiteral("acTL says %1 frames, the file has %2")
                 .arg(contents.declaredFrames)
                 .arg(controls.size()));

    contents.defaultImage =
        decodeImage(defaultStream, contents.width, contents.height, contents.colourType, palette);
    QImage canvas(contents.width, contents.height, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const FrameControl &control = controls[i];
        const QImage piece =
            decodeImage(streams[i], control.width, control.height, contents.colourType, palette);
        const QImage before = canvas.copy();
        for (int y = 0; y < control.height; ++y) {
            for (int x = 0; x < control.width; ++x) {
                const QRgb source = piece.pixel(x, y);
                const QRgb target = canvas.pixel(control.x + x, control.y + y);
                canvas.setPixel(control.x + x, control.y + y,
                                control.blend == 0 ? source : over(source, target));
            }
        }
        contents.frames.push_back({canvas.copy(), control.delayMs});
        // A first frame's "previous" is "background".
        const int dispose = i == 0 && control.dispose == 2 ? 1 : control.dispose;
        if (dispose == 1) {
            for (int y = 0; y < control.height; ++y)
                for (int x = 0; x < control.width; ++x)
                    canvas.setPixel(control.x + x, control.y + y, qRgba(0, 0, 0, 0));
        } else if (dispose == 2) {
            canvas = before;
        }
    }
    return contents;
}
