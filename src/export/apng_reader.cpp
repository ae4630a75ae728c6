#include "export/apng_reader.h"

#include "composition/quillow_error.h"
#include "export/png_filters.h"

#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kIndexed = 3;
constexpr int kRgba = 6;
// Far beyond any sticker; keeps a damaged header from asking for gigabytes.
constexpr qint64 kMostPixels = qint64(1) << 26;

[[noreturn]] void fail(const QString &why)
{
    throw QuillowError(QStringLiteral("无法读取 PNG 文件：%1").arg(why));
}

std::uint32_t be32(const char *at)
{
    return qFromBigEndian<std::uint32_t>(at);
}

std::uint16_t be16(const char *at)
{
    return qFromBigEndian<std::uint16_t>(at);
}

void needBytes(const QByteArray &data, qsizetype size, const char *chunk)
{
    if (data.size() < size)
        fail(QStringLiteral("%1 块太短").arg(QLatin1String(chunk)));
}

struct FrameControl {
    int width = 0, height = 0, x = 0, y = 0;
    double delayMs = 0;
    int dispose = 0, blend = 0;
};

// The PNG standard's five filters, undone in place on rows of `rowBytes`
// that follow their filter-type byte.
std::vector<std::uint8_t> unfilter(const std::vector<std::uint8_t> &raw, std::size_t rowBytes, int height,
                                   std::size_t bytesPerPixel)
{
    std::vector<std::uint8_t> rows(rowBytes * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = raw.data() + std::size_t(y) * (rowBytes + 1);
        std::uint8_t *out = rows.data() + std::size_t(y) * rowBytes;
        const std::uint8_t *up = y > 0 ? out - rowBytes : nullptr;
        const std::uint8_t filter = in[0];
        if (filter > 4)
            fail(QStringLiteral("未知的行过滤方式 %1").arg(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bytesPerPixel ? out[i - bytesPerPixel] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= bytesPerPixel ? up[i - bytesPerPixel] : 0;
            out[i] = std::uint8_t(in[1 + i] + pngPredictor(filter, a, b, c));
        }
    }
    return rows;
}

QImage decodeImage(const QByteArray &stream, int width, int height, int colourType,
                   const std::vector<QRgb> &palette)
{
    const std::size_t bytesPerPixel = colourType == kIndexed ? 1 : 4;
    const std::size_t rowBytes = std::size_t(width) * bytesPerPixel;
    std::vector<std::uint8_t> raw((rowBytes + 1) * std::size_t(height));
    uLongf size = uLongf(raw.size());
    const int status = uncompress(raw.data(), &size, reinterpret_cast<const Bytef *>(stream.constData()),
                                  uLong(stream.size()));
    if (status != Z_OK || size != raw.size())
        fail(QStringLiteral("图像数据不能解压为 %1 字节（zlib %2）").arg(raw.size()).arg(status));
    const std::vector<std::uint8_t> rows = unfilter(raw, rowBytes, height, bytesPerPixel);
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull())
        fail(QStringLiteral("内存不足"));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *p = rows.data() + std::size_t(y) * rowBytes;
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x, p += bytesPerPixel) {
            if (colourType == kRgba) {
                line[x] = qRgba(p[0], p[1], p[2], p[3]);
            } else {
                if (*p >= palette.size())
                    fail(QStringLiteral("颜色序号 %1 超出调色板").arg(*p));
                line[x] = palette[*p];
            }
        }
    }
    return image;
}

// The PNG standard's "over" in straight alpha.
QRgb over(QRgb source, QRgb target)
{
    const int sa = qAlpha(source), da = qAlpha(target);
    if (sa == 255 || da == 0)
        return source;
    if (sa == 0)
        return target;
    const double s = sa / 255.0, d = da / 255.0 * (1 - s), a = s + d;
    const auto mix = [&](int sc, int dc) { return int(std::lround((sc * s + dc * d) / a)); };
    return qRgba(mix(qRed(source), qRed(target)), mix(qGreen(source), qGreen(target)),
                 mix(qBlue(source), qBlue(target)), int(std::lround(a * 255)));
}

FrameControl frameControl(const QByteArray &data, const ApngContents &contents)
{
    needBytes(data, 26, "fcTL");
    FrameControl control;
    control.width = int(be32(data.constData() + 4));
    control.height = int(be32(data.constData() + 8));
    control.x = int(be32(data.constData() + 12));
    control.y = int(be32(data.constData() + 16));
    const int num = be16(data.constData() + 20);
    const int den = be16(data.constData() + 22);
    // The APNG extension: a denominator of 0 means hundredths of a second.
    control.delayMs = 1000.0 * num / (den == 0 ? 100 : den);
    control.dispose = std::uint8_t(data[24]);
    control.blend = std::uint8_t(data[25]);
    if (control.width <= 0 || control.height <= 0 || control.x < 0 || control.y < 0 ||
        qint64(control.x) + control.width > contents.width ||
        qint64(control.y) + control.height > contents.height || control.dispose > 2 || control.blend > 1)
        fail(QStringLiteral("帧的范围超出画布"));
    return control;
}

} // namespace

ApngContents readApng(const QByteArray &file)
{
    ApngContents contents;
    if (!file.startsWith(QByteArray::fromHex("89504e470d0a1a0a")))
        fail(QStringLiteral("没有 PNG 签名"));
    std::vector<QRgb> palette;
    std::vector<FrameControl> controls;
    std::vector<QByteArray> streams; // per frame, in order
    QByteArray defaultStream;
    bool seenHeader = false, seenIdat = false, seenIend = false;
    std::uint32_t nextSequence = 0;
    qsizetype at = 8;
    while (at < file.size()) {
        if (at + 12 > file.size())
            fail(QStringLiteral("块不完整"));
        const qsizetype length = be32(file.constData() + at);
        const QByteArray type = file.mid(at + 4, 4);
        if (at + 12 + length > file.size())
            fail(QStringLiteral("%1 块不完整").arg(QString::fromLatin1(type)));
        const QByteArray data = file.mid(at + 8, length);
        const std::uint32_t crc = be32(file.constData() + at + 8 + length);
        const uLong computed = crc32(crc32(0, reinterpret_cast<const Bytef *>(type.constData()), 4),
                                     reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()));
        if (crc != computed)
            fail(QStringLiteral("%1 块的 CRC 不符").arg(QString::fromLatin1(type)));
        contents.chunkTypes.push_back(type);
        at += 12 + length;
        if (type != "IHDR" && !seenHeader)
            fail(QStringLiteral("IHDR 不是第一块"));
        if (type == "IHDR") {
            needBytes(data, 13, "IHDR");
            seenHeader = true;
            contents.width = int(be32(data.constData()));
            contents.height = int(be32(data.constData() + 4));
            contents.colourType = std::uint8_t(data[9]);
            if (data[8] != 8 || (contents.colourType != kIndexed && contents.colourType != kRgba) ||
                data[10] != 0 || data[11] != 0 || data[12] != 0)
                fail(QStringLiteral("不支持的图像格式"));
            if (contents.width <= 0 || contents.height <= 0 ||
                qint64(contents.width) * contents.height > kMostPixels)
                fail(QStringLiteral("图像尺寸 %1 × %2 无效").arg(contents.width).arg(contents.height));
        } else if (type == "PLTE") {
            for (qsizetype i = 0; i + 2 < data.size(); i += 3)
                palette.push_back(
                    qRgb(std::uint8_t(data[i]), std::uint8_t(data[i + 1]), std::uint8_t(data[i + 2])));
        } else if (type == "tRNS") {
            for (qsizetype i = 0; i < data.size() && i < qsizetype(palette.size()); ++i)
                palette[std::size_t(i)] =
                    (palette[std::size_t(i)] & 0xffffffu) | (std::uint32_t(std::uint8_t(data[i])) << 24);
        } else if (type == "acTL") {
            needBytes(data, 8, "acTL");
            contents.declaredFrames = int(be32(data.constData()));
            contents.plays = int(be32(data.constData() + 4));
        } else if (type == "fcTL" || type == "fdAT") {
            needBytes(data, 4, type.constData());
            if (be32(data.constData()) != nextSequence++)
                fail(QStringLiteral("帧序号错乱"));
            if (type == "fcTL") {
                const FrameControl control = frameControl(data, contents);
                if (!seenIdat && !controls.empty())
                    fail(QStringLiteral("IDAT 之前有两个 fcTL"));
                if (!seenIdat) {
                    contents.defaultIsFrame = true;
                    if (control.x != 0 || control.y != 0 || control.width != contents.width ||
                        control.height != contents.height)
                        fail(QStringLiteral("默认图像的帧须覆盖整个画布"));
                }
                controls.push_back(control);
                streams.emplace_back();
            } else {
                if (!seenIdat || streams.empty() || (contents.defaultIsFrame && streams.size() == 1))
                    fail(QStringLiteral("fdAT 前面没有它的 fcTL"));
                streams.back() += data.mid(4);
            }
        } else if (type == "IDAT") {
            if (!streams.empty() && !contents.defaultIsFrame)
                fail(QStringLiteral("IDAT 在帧之后"));
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
        fail(QStringLiteral("缺少 IDAT 或 IEND"));
    if (contents.plays >= 0 && qsizetype(controls.size()) != contents.declaredFrames)
        fail(QStringLiteral("acTL 声明 %1 帧，文件里有 %2 帧")
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
            const auto *source = reinterpret_cast<const QRgb *>(piece.constScanLine(y));
            auto *target = reinterpret_cast<QRgb *>(canvas.scanLine(control.y + y)) + control.x;
            for (int x = 0; x < control.width; ++x)
                target[x] = control.blend == 0 ? source[x] : over(source[x], target[x]);
        }
        contents.frames.push_back({canvas.copy(), control.delayMs});
        // A first frame's "previous" is "background".
        const int dispose = i == 0 && control.dispose == 2 ? 1 : control.dispose;
        if (dispose == 1) {
            for (int y = 0; y < control.height; ++y) {
                auto *target = reinterpret_cast<QRgb *>(canvas.scanLine(control.y + y)) + control.x;
                std::fill(target, target + control.width, qRgba(0, 0, 0, 0));
            }
        } else if (dispose == 2) {
            canvas = before;
        }
    }
    return contents;
}
