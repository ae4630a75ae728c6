#include "export/palette_quantiser.h"

#include "export/export_errors.h"

#include <libimagequant.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <limits>
#include <memory>
#include <new>
#include <unordered_map>

#include <dlfcn.h>

namespace {

// libimagequant shares its work out to OpenMP threads, and libgomp ends the
// whole process (after printing "Thread creation failed") when it cannot
// start one, as under a memory limit. The team size is the calling
// thread's own setting, so it is set on every call; and one thread makes
// the same palette on any number of cores. libgomp comes in with
// libimagequant and is looked up rather than linked, so that a build whose
// libimagequant is serial needs nothing more.
void quantiseOnCallingThreadOnly()
{
    using SetThreadCount = void (*)(int);
    static const auto setThreadCount =
        reinterpret_cast<SetThreadCount>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    if (setThreadCount)
        setThreadCount(1);
}

struct LiqRelease {
    void operator()(liq_attr *attr) const { liq_attr_destroy(attr); }
    void operator()(liq_histogram *histogram) const { liq_histogram_destroy(histogram); }
    void operator()(liq_image *image) const { liq_image_destroy(image); }
    void operator()(liq_result *result) const { liq_result_destroy(result); }
};

template <typename T> using LiqPointer = std::unique_ptr<T, LiqRelease>;

QString liqReason(liq_error status)
{
    switch (status) {
    case LIQ_QUALITY_TOO_LOW:
        return QStringLiteral("质量过低");
    case LIQ_VALUE_OUT_OF_RANGE:
        return QStringLiteral("参数超出范围");
    case LIQ_OUT_OF_MEMORY:
        return QStringLiteral("内存不足");
    case LIQ_ABORTED:
        return QStringLiteral("已中止");
    case LIQ_BITMAP_NOT_AVAILABLE:
        return QStringLiteral("图像数据不可用");
    case LIQ_BUFFER_TOO_SMALL:
        return QStringLiteral("缓冲区太小");
    case LIQ_INVALID_POINTER:
        return QStringLiteral("无效指针");
    case LIQ_UNSUPPORTED:
        return QStringLiteral("不支持的操作");
    default:
        return QStringLiteral("错误 %1").arg(int(status));
    }
}

QuillowError liqError(const char *function, const QString &reason)
{
    return encoderFailedError(QStringLiteral("调色板"),
                              QStringLiteral("libimagequant %1：%2").arg(QLatin1String(function), reason));
}

void liqCall(const char *function, liq_error status)
{
    if (status == LIQ_OUT_OF_MEMORY)
        throw std::bad_alloc();
    if (status != LIQ_OK)
        throw liqError(function, liqReason(status));
}

template <typename T> LiqPointer<T> liqCreated(T *created)
{
    // The creating calls return no code; with the arguments given here
    // only the allocation can fail.
    if (!created)
        throw std::bad_alloc();
    return LiqPointer<T>(created);
}

// The palette as it shows, premultiplied (each colour channel times alpha
// over 255), one array per channel so that the search runs four or eight
// entries at a time.
class NearestEntry {
public:
    NearestEntry(const std::vector<QRgb> &palette, int transparentIndex)
        : m_transparentIndex(transparentIndex)
    {
        for (QRgb entry : palette) {
            const auto shown = premultiplied(entry);
            for (std::size_t c = 0; c < 4; ++c)
                m_channels[c].push_back(shown[c]);
        }
        m_distances.resize(palette.size());
    }

    std::uint8_t operator()(QRgb colour)
    {
        if (qAlpha(colour) == 0 && m_transparentIndex >= 0)
            return std::uint8_t(m_transparentIndex);
        const auto known = m_memo.find(colour);
        if (known != m_memo.end())
            return known->second;
        const auto target = premultiplied(colour);
        const std::size_t count = m_distances.size();
        for (std::size_t i = 0; i < count; ++i) {
            float distance = 0;
            for (std::size_t c = 0; c < 4; ++c) {
                const float d = m_channels[c][i] - target[c];
                distance += d * d;
            }
            m_distances[i] = distance;
        }
        // The first of equally near entries.
        const auto bestIndex =
            std::uint8_t(std::min_element(m_distances.begin(), m_distances.end()) - m_distances.begin());
        m_memo.emplace(colour, bestIndex);
        return bestIndex;
    }

private:
    static std::array<float, 4> premultiplied(QRgb colour)
    {
        const float alpha = float(qAlpha(colour)) / 255.0f;
        return {float(qRed(colour)) * alpha, float(qGreen(colour)) * alpha, float(qBlue(colour)) * alpha,
                float(qAlpha(colour))};
    }

    int m_transparentIndex;
    std::array<std::vector<float>, 4> m_channels;
    std::vector<float> m_distances;
    // A strip has a few thousand distinct colours among many pixels.
    std::unordered_map<QRgb, std::uint8_t> m_memo;
};

// Runs of one colour over the pixels of `frame` from `begin` to `end`, handed
// to `count` as (colour, length).
template <typename Count> void forEachRun(const std::uint32_t *begin, const std::uint32_t *end, Count count)
{
    while (begin < end) {
        const std::uint32_t *runEnd = begin + 1;
        while (runEnd < end && *runEnd == *begin)
            ++runEnd;
        count(*begin, std::int64_t(runEnd - begin));
        begin = runEnd;
    }
}

const std::uint32_t *pixelsOf(const QImage &frame)
{
    assert(frame.format() == QImage::Format_RGBA8888);
    // 32-bit rows are never padded: the bits are one block.
    assert(frame.bytesPerLine() == 4 * frame.width());
    return reinterpret_cast<const std::uint32_t *>(frame.constBits());
}

QRgb colourOf(std::uint32_t rgbaBytes)
{
    const auto *bytes = reinterpret_cast<const uchar *>(&rgbaBytes);
    // Every fully transparent pixel is one colour.
    return bytes[3] == 0 ? 0 : qRgba(bytes[0], bytes[1], bytes[2], bytes[3]);
}

// The histogram of every frame: each colour with the number of pixels that
// have it, summed over all frames. Frames of one animation share most of
// their pixels, so each frame's counts are the previous frame's corrected
// where pixels changed, and only those pixels are looked up.
std::vector<liq_histogram_entry> colourCounts(const std::vector<QImage> &frames)
{
    std::unordered_map<QRgb, std::int64_t> current, total;
    const std::size_t pixelCount = std::size_t(frames.front().width()) * std::size_t(frames.front().height());
    const std::uint32_t *previous = nullptr;
    for (const QImage &frame : frames) {
        assert(frame.size() == frames.front().size());
        const std::uint32_t *pixels = pixelsOf(frame);
        if (!previous) {
            forEachRun(pixels, pixels + pixelCount, [&current](std::uint32_t colour, std::int64_t run) {
                current[colourOf(colour)] += run;
            });
        } else {
            for (std::size_t i = 0; i < pixelCount; ++i) {
                if (pixels[i] == previous[i])
                    continue;
                --current[colourOf(previous[i])];
                ++current[colourOf(pixels[i])];
            }
        }
        for (const auto &[colour, count] : current)
            total[colour] += count;
        previous = pixels;
    }
    std::vector<liq_histogram_entry> entries;
    entries.reserve(total.size());
    for (const auto &[colour, count] : total) {
        if (count <= 0)
            continue;
        entries.push_back({{std::uint8_t(qRed(colour)), std::uint8_t(qGreen(colour)),
                            std::uint8_t(qBlue(colour)), std::uint8_t(qAlpha(colour))},
                           unsigned(std::min<std::int64_t>(count, UINT_MAX))});
    }
    return entries;
}

} // namespace

QuantisedFrames quantiseFrames(const std::vector<QImage> &frames, int maxColours)
{
    if (maxColours < 2 || maxColours > 256)
        throw paletteSizeError(maxColours);
    assert(!frames.empty());
    QuantisedFrames result;
    result.width = frames.front().width();
    result.height = frames.front().height();

    quantiseOnCallingThreadOnly();
    LiqPointer<liq_attr> attr = liqCreated(liq_attr_create());
    liqCall("liq_set_max_colors", liq_set_max_colors(attr.get(), maxColours));
    LiqPointer<liq_histogram> histogram = liqCreated(liq_histogram_create(attr.get()));
    const std::vector<liq_histogram_entry> counts = colourCounts(frames);
    liqCall("liq_histogram_add_colors",
            liq_histogram_add_colors(histogram.get(), attr.get(), counts.data(), int(counts.size()), 0.0));
    liq_result *quantised = nullptr;
    liqCall("liq_histogram_quantize", liq_histogram_quantize(histogram.get(), attr.get(), &quantised));
    const LiqPointer<liq_result> owned(quantised);

    const liq_palette *palette = liq_get_palette(quantised);
    if (!palette)
        throw liqError("liq_get_palette", liqReason(LIQ_BITMAP_NOT_AVAILABLE));
    // Entries with partial or no coverage first, so that a PNG's tRNS can
    // stop at the last of them.
    for (bool opaque : {false, true}) {
        for (unsigned i = 0; i < palette->count; ++i) {
            const liq_color &entry = palette->entries[i];
            if ((entry.a == 255) != opaque)
                continue;
            if (entry.a == 0 && result.transparentIndex < 0)
                result.transparentIndex = int(result.palette.size());
            result.palette.push_back(qRgba(entry.r, entry.g, entry.b, entry.a));
        }
    }
    // Writers that leave pixels unchanged need a transparent entry even for
    // opaque frames; add one where there is room.
    if (result.transparentIndex < 0 && result.palette.size() < std::size_t(maxColours)) {
        result.transparentIndex = 0;
        result.palette.insert(result.palette.begin(), qRgba(0, 0, 0, 0));
    }
    const int quality = liq_get_quantization_quality(quantised);
    result.quality = quality < 0 ? 0 : quality;

    NearestEntry nearest(result.palette, result.transparentIndex);
    const std::size_t pixelCount = std::size_t(result.width) * std::size_t(result.height);
    result.indices.reserve(frames.size());
    const std::uint32_t *previous = nullptr;
    for (const QImage &frame : frames) {
        const std::uint32_t *pixels = pixelsOf(frame);
        std::vector<std::uint8_t> indices(pixelCount);
        const std::vector<std::uint8_t> *previousIndices = previous ? &result.indices.back() : nullptr;
        for (std::size_t i = 0; i < pixelCount; ++i) {
            // Most pixels repeat the one to their left or the one in the
            // frame before.
            if (i > 0 && pixels[i] == pixels[i - 1])
                indices[i] = indices[i - 1];
            else if (previous && pixels[i] == previous[i])
                indices[i] = (*previousIndices)[i];
            else
                indices[i] = nearest(colourOf(pixels[i]));
        }
        result.indices.push_back(std::move(indices));
        previous = pixels;
    }
    return result;
}
