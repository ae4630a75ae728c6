#include "export/gif_writer.h"

#include "export/export_errors.h"
#include "export/frame_difference.h"
#include "export/gif_lzw.h"
#include "export/palette_quantiser.h"

#include <gif_lib.h>

#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr int kMaxCentiseconds = std::numeric_limits<std::uint16_t>::max();

// Running out of memory is the process's failure, not the encoder's: it is
// thrown as such, whichever call meets it.
QuillowError gifError(const char *function, int code)
{
    if (code == E_GIF_ERR_NOT_ENOUGH_MEM)
        throw std::bad_alloc();
    const char *reason = GifErrorString(code);
    return encoderFailedError(
        QStringLiteral("GIF"),
        QStringLiteral("giflib %1：%2")
            .arg(QLatin1String(function), reason ? QString::fromLatin1(reason) : QString::number(code)));
}

struct GifClose {
    void operator()(GifFileType *gif) const
    {
        // Reached only while another error unwinds; closing frees the state.
        int ignored = 0;
        EGifCloseFile(gif, &ignored);
    }
};

int appendToBuffer(GifFileType *gif, const GifByteType *data, int size)
{
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(data), size);
    return size;
}

struct ColourMapRelease {
    void operator()(ColorMapObject *map) const { GifFreeMapObject(map); }
};

// GIF's one-bit transparency applied to straight RGBA frames, in place.
void makeBinaryAlpha(std::vector<QImage> &frames, const std::optional<QColor> &matte)
{
    for (QImage &frame : frames) {
        for (int y = 0; y < frame.height(); ++y) {
            uchar *pixel = frame.scanLine(y);
            for (int x = 0; x < frame.width(); ++x, pixel += 4) {
                const int alpha = pixel[3];
                if (matte && alpha > 0) {
                    const int ground[3] = {matte->red(), matte->green(), matte->blue()};
                    for (int c = 0; c < 3; ++c)
                        pixel[c] = uchar((pixel[c] * alpha + ground[c] * (255 - alpha) + 127) / 255);
                    pixel[3] = 255;
                } else if (!matte) {
                    pixel[3] = alpha >= 128 ? 255 : 0;
                }
                if (pixel[3] == 0)
                    pixel[0] = pixel[1] = pixel[2] = 0;
            }
        }
    }
}

struct GifFrame {
    QRect rect;
    int disposal = DISPOSE_DO_NOT;
    PixelCodes before; // the canvas it is drawn on
};

// Pixels that show something in `from` and nothing in `to`: GIF can clear
// them only by disposing of a frame that covers them to the background.
QRect clearedRect(const PixelCodes &from, const PixelCodes &to, std::uint32_t transparent, int width)
{
    PixelCodes mask(from.size(), 0);
    for (std::size_t i = 0; i < from.size(); ++i)
        mask[i] = from[i] != transparent && to[i] == transparent;
    return changedRect(PixelCodes(from.size(), 0), mask, width);
}

// The cost of drawing `shown` on `canvas`, or a negative number when GIF
// cannot: a pixel that must become transparent is not.
double drawingCost(const PixelCodes &canvas, const PixelCodes &shown, std::uint32_t transparent, int width)
{
    const QRect rect = changedRect(canvas, shown, width);
    if (rect.isNull())
        return 0;
    std::size_t changed = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const std::size_t at = std::size_t(y) * std::size_t(width) + std::size_t(x);
            if (canvas[at] == shown[at])
                continue;
            if (shown[at] == transparent)
                return -1;
            ++changed;
        }
    }
    return double(changed) + double(rect.width()) * rect.height() / 256;
}

std::vector<GifFrame> planFrames(const QuantisedFrames &quantised)
{
    const int width = quantised.width;
    const auto transparent = std::uint32_t(quantised.transparentIndex);
    std::vector<PixelCodes> shown;
    for (const auto &indices : quantised.indices)
        shown.emplace_back(indices.begin(), indices.end());

    std::vector<GifFrame> plan(shown.size());
    plan[0].before = PixelCodes(shown[0].size(), transparent);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        GifFrame &frame = plan[i];
        frame.rect = changedRect(frame.before, shown[i], width);
        if (frame.rect.isNull())
            frame.rect = QRect(0, 0, 1, 1); // a frame holds at least one pixel
        if (i + 1 == shown.size())
            break;
        const PixelCodes &next = shown[i + 1];

        // Leaving the frame in place, or going back to what was before it,
        // may let the next frame draw less; disposing to the background
        // (over a rectangle grown to hold every pixel the next frame must
        // clear) always lets it draw.
        double best = -1;
        const PixelCodes *canvas = nullptr;
        for (auto [disposal, candidate] :
             {std::pair{DISPOSE_DO_NOT, &shown[i]}, {DISPOSE_PREVIOUS, &frame.before}}) {
            const double cost = drawingCost(*candidate, next, transparent, width);
            if (cost >= 0 && (best < 0 || cost < best)) {
                best = cost;
                frame.disposal = disposal;
                canvas = candidate;
            }
        }
        const QRect grown = frame.rect.united(clearedRect(shown[i], next, transparent, width));
        PixelCodes cleared = shown[i];
        fillRect(cleared, width, grown, transparent);
        const double clearedCost = drawingCost(cleared, next, transparent, width);
        assert(clearedCost >= 0);
        const double growth =
            double(grown.width()) * grown.height() - double(frame.rect.width()) * frame.rect.height();
        if (best < 0 || clearedCost + growth / 256 < best) {
            frame.disposal = DISPOSE_BACKGROUND;
            frame.rect = grown;
            plan[i + 1].before = std::move(cleared);
        } else {
            plan[i + 1].before = *canvas;
        }
    }
    return plan;
}

// Each frame's delay in centiseconds, rounded so that the running total
// stays the rounded running total of the milliseconds.
std::vector<int> centiseconds(const Animation &animation)
{
    std::vector<int> delays;
    long long elapsedMs = 0, elapsedCs = 0;
    for (const AnimationFrame &frame : animation.frames) {
        elapsedMs += frame.delayMs;
        const long long total = (elapsedMs + 5) / 10;
        delays.push_back(int(total - elapsedCs));
        elapsedCs = total;
    }
    return delays;
}

class GifOutput {
public:
    GifOutput()
    {
        int error = 0;
        m_gif.reset(EGifOpen(&m_bytes, appendToBuffer, &error));
        if (!m_gif)
            throw gifError("EGifOpen", error);
    }

    GifFileType *get() const { return m_gif.get(); }

    void check(const char *function, int status) const
    {
        if (status != GIF_OK)
            throw gifError(function, m_gif->Error);
    }

    // Bytes giflib has no call for, between two of its blocks: giflib hands
    // each block to appendToBuffer() whole, so nothing of its own waits.
    void append(const std::vector<std::uint8_t> &bytes)
    {
        m_bytes.append(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    }

    QByteArray close()
    {
        int error = 0;
        if (EGifCloseFile(m_gif.release(), &error) != GIF_OK)
            throw gifError("EGifCloseFile", error);
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    std::unique_ptr<GifFileType, GifClose> m_gif;
};

// The pixels of each frame's rectangle as the LZW coder may write them. An
// unchanged pixel may be left to what is there, or, where it continues a run
// of its own colour, drawn again (longer runs make shorter LZW codes); the
// coder may take either.
std::vector<std::vector<LzwPixel>> framePixels(const QuantisedFrames &quantised,
                                               const std::vector<GifFrame> &plan)
{
    const auto transparent = std::uint8_t(quantised.transparentIndex);
    std::vector<std::vector<LzwPixel>> frames;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const GifFrame &frame = plan[i];
        const std::vector<std::uint8_t> &shown = quantised.indices[i];
        std::vector<LzwPixel> pixels;
        pixels.reserve(std::size_t(frame.rect.width()) * std::size_t(frame.rect.height()));
        for (int y = frame.rect.top(); y <= frame.rect.bottom(); ++y) {
            std::uint8_t left = transparent;
            for (int x = frame.rect.left(); x <= frame.rect.right(); ++x) {
                const std::size_t at = std::size_t(y) * std::size_t(quantised.width) + std::size_t(x);
                const std::uint8_t pixel = shown[at];
                if (frame.before[at] != pixel) {
                    left = pixel;
                    pixels.push_back({pixel, pixel});
                    continue;
                }
                left = pixel == left ? pixel : transparent;
                pixels.push_back({left, left == pixel ? transparent : pixel});
            }
        }
        frames.push_back(std::move(pixels));
    }
    return frames;
}

// Renumbers the palette by first use, the transparent entry first: the early
// frames, drawn with few colours, then need only the low indices, and LZW
// codes start narrower. Returns the new palette; `frames` are renumbered in
// place.
std::vector<QRgb> paletteByFirstUse(const QuantisedFrames &quantised,
                                    std::vector<std::vector<LzwPixel>> &frames)
{
    constexpr int kUnused = -1;
    std::array<int, 256> renumbered;
    renumbered.fill(kUnused);
    int next = 0;
    const auto number = [&](std::uint8_t &index) {
        if (renumbered[index] == kUnused)
            renumbered[index] = next++;
        index = std::uint8_t(renumbered[index]);
    };
    std::uint8_t transparent = std::uint8_t(quantised.transparentIndex);
    number(transparent);
    for (std::vector<LzwPixel> &pixels : frames) {
        for (LzwPixel &pixel : pixels) {
            number(pixel.shown);
            number(pixel.alternative);
        }
    }
    for (std::size_t old = 0; old < quantised.palette.size(); ++old) {
        if (renumbered[old] == kUnused)
            renumbered[old] = next++;
    }
    std::vector<QRgb> palette(quantised.palette.size());
    for (std::size_t old = 0; old < quantised.palette.size(); ++old)
        palette[std::size_t(renumbered[old])] = quantised.palette[old];
    return palette;
}

} // namespace

EncodedAnimation encodeGif(const Animation &animation, const GifOptions &options)
{
    checkAnimation(animation, kMaxCentiseconds * 10);
    if (options.maxColours < 2 || options.maxColours > 256)
        throw paletteSizeError(options.maxColours);
    if (animation.loopCount > kMaxCentiseconds + 1)
        throw QuillowError(QStringLiteral("循环次数 %1 超出 GIF 的上限。").arg(animation.loopCount));

    std::vector<QImage> frames = straightFrames(animation);
    makeBinaryAlpha(frames, options.matte);
    // Unchanged pixels are left transparent, so the palette needs a
    // transparent entry even when no frame has a transparent pixel. The
    // quantiser adds one only where its palette has room: frames that are
    // opaque and fill it are quantised again with one colour fewer.
    const int opaqueColours = std::min(options.maxColours, 255);
    QuantisedFrames quantised = quantiseFrames(frames, opaqueColours);
    if (quantised.transparentIndex < 0 && opaqueColours > 2)
        quantised = quantiseFrames(frames, opaqueColours - 1);
    if (quantised.transparentIndex < 0)
        throw QuillowError(QStringLiteral("GIF 动画需要一个透明色：不透明的画面至少要用 3 种颜色。"));
    const std::vector<GifFrame> plan = planFrames(quantised);
    const std::vector<int> delays = centiseconds(animation);

    std::vector<std::vector<LzwPixel>> pixels = framePixels(quantised, plan);
    const std::vector<QRgb> palette = paletteByFirstUse(quantised, pixels);
    const int transparent = 0;

    int mapSize = 2;
    while (mapSize < int(palette.size()))
        mapSize *= 2;
    std::vector<GifColorType> colours(std::size_t(mapSize), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < palette.size(); ++i)
        colours[i] = {GifByteType(qRed(palette[i])), GifByteType(qGreen(palette[i])),
                      GifByteType(qBlue(palette[i]))};
    const std::unique_ptr<ColorMapObject, ColourMapRelease> map(GifMakeMapObject(mapSize, colours.data()));
    if (!map)
        throw gifError("GifMakeMapObject", E_GIF_ERR_NOT_ENOUGH_MEM);

    GifOutput output;
    GifFileType *gif = output.get();
    EGifSetGifVersion(gif, true);
    output.check("EGifPutScreenDesc",
                 EGifPutScreenDesc(gif, quantised.width, quantised.height, 8, transparent, map.get()));
    // Played once, a GIF needs no loop extension; otherwise it counts the
    // repeats after the first play.
    if (animation.loopCount != 1) {
        const int repeats = animation.loopCount == 0 ? 0 : animation.loopCount - 1;
        const std::array<GifByteType, 3> loop = {1, GifByteType(repeats & 0xff), GifByteType(repeats >> 8)};
        output.check("EGifPutExtensionLeader", EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE));
        output.check("EGifPutExtensionBlock", EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"));
        output.check("EGifPutExtensionBlock", EGifPutExtensionBlock(gif, int(loop.size()), loop.data()));
        output.check("EGifPutExtensionTrailer", EGifPutExtensionTrailer(gif));
    }

    for (std::size_t i = 0; i < plan.size(); ++i) {
        const GifFrame &frame = plan[i];
        GraphicsControlBlock control{};
        control.DisposalMode = frame.disposal;
        control.UserInputFlag = false;
        control.DelayTime = delays[i];
        control.TransparentColor = transparent;
        std::array<GifByteType, 4> controlBytes{};
        EGifGCBToExtension(&control, controlBytes.data());
        output.check("EGifPutExtension", EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE,
                                                          int(controlBytes.size()), controlBytes.data()));
        // The image descriptor, no local colour table, not interlaced, then
        // our own LZW codes: giflib's coder starts every frame at the
        // palette's full width and clears its table as soon as it fills.
        std::vector<std::uint8_t> descriptor = {0x2c};
        for (int value : {frame.rect.x(), frame.rect.y(), frame.rect.width(), frame.rect.height()}) {
            descriptor.push_back(std::uint8_t(value & 0xff)); // little-endian
            descriptor.push_back(std::uint8_t(value >> 8));
        }
        descriptor.push_back(0);
        output.append(descriptor);
        output.append(lzwImageData(pixels[i], lzwMinimumCodeSize(pixels[i])));
    }
    return {output.close(), int(plan.size()), quantised.quality, {}};
}
