#include "export/apng_writer.h"

#include "export/export_errors.h"
#include "export/frame_difference.h"
#include "export/palette_quantiser.h"
#include "export/png_chunks.h"
#include "export/png_filters.h"

#include <QBuffer>
#include <QtEndian>

#include <array>
#include <cassert>
#include <cstdlib>
#include <limits>
#include <numeric>

namespace {

constexpr int kMaxDelayMs = std::numeric_limits<std::uint16_t>::max();

enum DisposeOp : std::uint8_t { kDisposeNone = 0, kDisposeBackground = 1, kDisposePrevious = 2 };
enum BlendOp : std::uint8_t { kBlendSource = 0, kBlendOver = 1 };

// A canvas pixel that is transparent black where the palette has no such
// entry (a full palette of opaque colours); never written to the file.
constexpr std::uint32_t kClearedCode = std::numeric_limits<std::uint32_t>::max();

// The frames' pixels as codes: palette indices, or straight colours (qRgba)
// with every fully transparent pixel as 0.
struct FramePixels {
    int width = 0;
    int height = 0;
    bool indexed = true;
    std::vector<QRgb> palette;
    std::vector<PixelCodes> frames;
    std::uint32_t cleared = kClearedCode; // transparent black
    int quality = -1;

    int alpha(std::uint32_t code) const
    {
        if (code == kClearedCode)
            return 0;
        return qAlpha(indexed ? palette[code] : QRgb(code));
    }
    // OVER leaves a pixel as it was only through a transparent code.
    bool canBlendOver() const { return cleared != kClearedCode; }
};

FramePixels framePixels(const Animation &animation, const ApngOptions &options)
{
    const std::vector<QImage> straight = straightFrames(animation);
    FramePixels pixels;
    pixels.width = straight.front().width();
    pixels.height = straight.front().height();
    QuantisedFrames quantised = quantiseFrames(straight, options.maxColours);
    pixels.quality = quantised.quality;
    if (quantised.quality >= options.minPaletteQuality) {
        pixels.palette = std::move(quantised.palette);
        if (quantised.transparentIndex >= 0)
            pixels.cleared = std::uint32_t(quantised.transparentIndex);
        for (const std::vector<std::uint8_t> &indices : quantised.indices)
            pixels.frames.emplace_back(indices.begin(), indices.end());
        return pixels;
    }
    pixels.indexed = false;
    pixels.cleared = 0;
    for (const QImage &frame : straight) {
        PixelCodes codes(std::size_t(pixels.width) * std::size_t(pixels.height));
        const uchar *rgba = frame.constBits();
        for (std::uint32_t &code : codes) {
            code = rgba[3] == 0 ? 0 : qRgba(rgba[0], rgba[1], rgba[2], rgba[3]);
            rgba += 4;
        }
        pixels.frames.push_back(std::move(codes));
    }
    return pixels;
}

struct PlannedFrame {
    std::size_t source = 0; // index of the given frame it shows
    QRect rect;
    std::uint8_t dispose = kDisposeNone;
    std::uint8_t blend = kBlendSource;
    PixelCodes before; // the canvas it is drawn on
};

// What a frame costs, roughly in deflated bytes: each pixel with content
// costs, and a run of transparent pixels almost nothing.
struct FrameChoice {
    QRect rect;
    std::uint8_t blend = kBlendSource;
    double cost = 0;
};

FrameChoice cheapestDrawing(const FramePixels &pixels, const PixelCodes &before, const PixelCodes &shown)
{
    const int width = pixels.width;
    QRect rect = changedRect(before, shown, width);
    if (rect.isNull()) {
        // APNG frames have at least one pixel: repeat one.
        return {QRect(0, 0, 1, 1), pixels.canBlendOver() ? kBlendOver : kBlendSource, 0};
    }
    std::size_t content = 0, changed = 0;
    bool overWorks = pixels.canBlendOver();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const std::size_t at = std::size_t(y) * std::size_t(width) + std::size_t(x);
            const int alpha = pixels.alpha(shown[at]);
            if (alpha != 0)
                ++content;
            if (before[at] != shown[at]) {
                ++changed;
                // OVER gives exactly the new pixel only on a cleared one or
                // with an opaque one.
                if (alpha != 255 && pixels.alpha(before[at]) != 0)
                    overWorks = false;
            }
        }
    }
    const double area = double(rect.width()) * rect.height();
    const double sourceCost = double(content) + area / 256;
    const double overCost = double(changed) + area / 256;
    if (overWorks && overCost < sourceCost)
        return {rect, kBlendOver, overCost};
    return {rect, kBlendSource, sourceCost};
}

// Plans the frames in showing order. The first covers the whole canvas; for
// each later one, the previous frame's disposal is the one among none,
// background and previous that lets this frame cost least.
std::vector<PlannedFrame> planFrames(const FramePixels &pixels, const std::vector<std::size_t> &order)
{
    const std::size_t pixelCount = std::size_t(pixels.width) * std::size_t(pixels.height);
    std::vector<PlannedFrame> plan(order.size());
    plan[0].source = order[0];
    plan[0].rect = QRect(0, 0, pixels.width, pixels.height);
    plan[0].before = PixelCodes(pixelCount, pixels.cleared);
    for (std::size_t i = 1; i < order.size(); ++i) {
        PlannedFrame &previous = plan[i - 1];
        const PixelCodes &previousShown = pixels.frames[previous.source];
        const PixelCodes &shown = pixels.frames[order[i]];

        PixelCodes cleared = previousShown;
        fillRect(cleared, pixels.width, previous.rect, pixels.cleared);
        struct Candidate {
            std::uint8_t dispose;
            const PixelCodes *canvas;
        };
        std::vector<Candidate> candidates = {{kDisposeNone, &previousShown}, {kDisposeBackground, &cleared}};
        // On the first frame "previous" means "background".
        if (i > 1)
            candidates.push_back({kDisposePrevious, &previous.before});

        FrameChoice best;
        const Candidate *chosen = nullptr;
        for (const Candidate &candidate : candidates) {
            const FrameChoice choice = cheapestDrawing(pixels, *candidate.canvas, shown);
            if (!chosen || choice.cost < best.cost) {
                best = choice;
                chosen = &candidate;
            }
        }
        previous.dispose = chosen->dispose;
        plan[i].source = order[i];
        plan[i].rect = best.rect;
        plan[i].blend = best.blend;
        plan[i].before = *chosen->canvas;
    }
    return plan;
}

// The frame's rectangle as PNG scanlines before compression. Indexed rows
// use filter None, which suits palette indices best (the PNG standard's own
// advice); RGBA rows take, row by row, the filter whose output has the
// smallest sum of absolute values.
std::vector<std::uint8_t> scanlines(const FramePixels &pixels, const PixelCodes &before,
                                    const PixelCodes &shown, const QRect &rect, std::uint8_t blend)
{
    const std::size_t bytesPerPixel = pixels.indexed ? 1 : 4;
    const std::size_t rowBytes = std::size_t(rect.width()) * bytesPerPixel;
    std::vector<std::uint8_t> raw(rowBytes * std::size_t(rect.height()));
    auto out = raw.begin();
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const std::size_t at = std::size_t(y) * std::size_t(pixels.width) + std::size_t(x);
            std::uint32_t code = shown[at];
            if (blend == kBlendOver && before[at] == code)
                code = pixels.cleared;
            if (pixels.indexed) {
                *out++ = std::uint8_t(code);
            } else {
                const QRgb colour = code;
                *out++ = std::uint8_t(qRed(colour));
                *out++ = std::uint8_t(qGreen(colour));
                *out++ = std::uint8_t(qBlue(colour));
                *out++ = std::uint8_t(qAlpha(colour));
            }
        }
    }

    std::vector<std::uint8_t> filtered((rowBytes + 1) * std::size_t(rect.height()));
    std::vector<std::uint8_t> candidate(rowBytes);
    for (std::size_t row = 0; row < std::size_t(rect.height()); ++row) {
        const std::uint8_t *line = raw.data() + row * rowBytes;
        const std::uint8_t *above = row > 0 ? line - rowBytes : nullptr;
        std::uint8_t *target = filtered.data() + row * (rowBytes + 1);
        target[0] = 0;
        std::copy(line, line + rowBytes, target + 1);
        if (pixels.indexed)
            continue;
        std::uint64_t bestSum = std::numeric_limits<std::uint64_t>::max();
        for (std::uint8_t type = 0; type <= 4; ++type) {
            std::uint64_t sum = 0;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                const int left = i >= bytesPerPixel ? line[i - bytesPerPixel] : 0;
                const int up = above ? above[i] : 0;
                const int upLeft = above && i >= bytesPerPixel ? above[i - bytesPerPixel] : 0;
                candidate[i] = std::uint8_t(line[i] - pngPredictor(type, left, up, upLeft));
                sum += std::uint64_t(std::abs(int(std::int8_t(candidate[i]))));
            }
            if (sum < bestSum) {
                bestSum = sum;
                target[0] = type;
                std::copy(candidate.begin(), candidate.end(), target + 1);
            }
        }
    }
    return filtered;
}

void writeBigEndian32(std::uint8_t *at, std::uint32_t value)
{
    qToBigEndian(value, at);
}

class ApngChunks {
public:
    explicit ApngChunks(QIODevice &device) : m_device(device) {}

    void frameControl(const PlannedFrame &frame, int delayMs)
    {
        std::array<std::uint8_t, 26> control{};
        writeBigEndian32(control.data(), m_sequence++);
        writeBigEndian32(control.data() + 4, std::uint32_t(frame.rect.width()));
        writeBigEndian32(control.data() + 8, std::uint32_t(frame.rect.height()));
        writeBigEndian32(control.data() + 12, std::uint32_t(frame.rect.x()));
        writeBigEndian32(control.data() + 16, std::uint32_t(frame.rect.y()));
        qToBigEndian(std::uint16_t(delayMs), control.data() + 20);
        qToBigEndian(std::uint16_t(1000), control.data() + 22); // the delay is in milliseconds
        control[24] = frame.dispose;
        control[25] = frame.blend;
        writePngChunk(m_device, "fcTL", control.data(), control.size());
    }

    // The image data as IDAT chunks, or as fdAT chunks each led by its
    // sequence number.
    void imageData(const std::vector<std::uint8_t> &scanlineBytes, bool asDefaultImage)
    {
        PngDeflater deflater(
            [this, asDefaultImage](const std::uint8_t *data, std::size_t size) {
                if (asDefaultImage) {
                    writePngChunk(m_device, "IDAT", data, size);
                    return;
                }
                m_frameData.resize(4 + size);
                writeBigEndian32(m_frameData.data(), m_sequence++);
                std::copy(data, data + size, m_frameData.begin() + 4);
                writePngChunk(m_device, "fdAT", m_frameData.data(), m_frameData.size());
            },
            kQuickerMatchSearch);
        deflater.add(scanlineBytes.data(), scanlineBytes.size());
        deflater.finish();
    }

private:
    QIODevice &m_device;
    std::uint32_t m_sequence = 0;
    std::vector<std::uint8_t> m_frameData;
};

void writePalette(QIODevice &device, const std::vector<QRgb> &palette)
{
    std::vector<std::uint8_t> colours, alphas;
    for (QRgb entry : palette) {
        colours.insert(colours.end(),
                       {std::uint8_t(qRed(entry)), std::uint8_t(qGreen(entry)), std::uint8_t(qBlue(entry))});
        alphas.push_back(std::uint8_t(qAlpha(entry)));
    }
    writePngChunk(device, "PLTE", colours.data(), colours.size());
    // Entries after the last translucent one are opaque by omission.
    while (!alphas.empty() && alphas.back() == 255)
        alphas.pop_back();
    if (!alphas.empty())
        writePngChunk(device, "tRNS", alphas.data(), alphas.size());
}

} // namespace

EncodedAnimation encodeApng(const Animation &animation, const ApngOptions &options)
{
    checkAnimation(animation, kMaxDelayMs);
    if (options.maxColours < 2 || options.maxColours > 256)
        throw paletteSizeError(options.maxColours);
    if (options.minPaletteQuality < 0 || options.minPaletteQuality > 101)
        throw qualityRangeError(options.minPaletteQuality);

    const FramePixels pixels = framePixels(animation, options);
    const std::size_t count = animation.frames.size();
    const std::size_t last = count - 1;

    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t(0));
    bool defaultIsFrame = pixels.frames.front() == pixels.frames.back();
    if (!defaultIsFrame && animation.loopCount == 0 && options.startWithLastFrame) {
        std::rotate(order.begin(), order.begin() + std::ptrdiff_t(last), order.end());
        defaultIsFrame = true;
    }
    const std::vector<PlannedFrame> plan = planFrames(pixels, order);

    QByteArray bytes;
    QBuffer device(&bytes);
    device.open(QIODevice::WriteOnly);
    writePngSignature(device);
    writePngHeader(device, pixels.width, pixels.height,
                   pixels.indexed ? PngColourType::Indexed : PngColourType::Rgba);
    std::array<std::uint8_t, 8> animationControl{};
    writeBigEndian32(animationControl.data(), std::uint32_t(count));
    writeBigEndian32(animationControl.data() + 4, std::uint32_t(animation.loopCount));
    writePngChunk(device, "acTL", animationControl.data(), animationControl.size());
    if (pixels.indexed)
        writePalette(device, pixels.palette);

    ApngChunks chunks(device);
    const PixelCodes cleared(pixels.frames.front().size(), pixels.cleared);
    const QRect canvas(0, 0, pixels.width, pixels.height);
    if (!defaultIsFrame)
        chunks.imageData(scanlines(pixels, cleared, pixels.frames[last], canvas, kBlendSource), true);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlannedFrame &frame = plan[i];
        chunks.frameControl(frame, animation.frames[frame.source].delayMs);
        chunks.imageData(
            scanlines(pixels, frame.before, pixels.frames[frame.source], frame.rect, frame.blend),
            defaultIsFrame && i == 0);
    }
    writePngChunk(device, "IEND", nullptr, 0);
    return {bytes, int(count), pixels.indexed ? pixels.quality : -1, {}};
}
