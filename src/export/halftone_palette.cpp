#include "export/halftone_palette.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace {

constexpr std::array<QRgb, HalftonePalette::kSize> buildPalette()
{
    std::array<QRgb, HalftonePalette::kSize> palette{};
    for (int i = 0; i < HalftonePalette::kSize; ++i)
        palette[std::size_t(i)] = qRgb((i & 7) * 32, ((i >> 3) & 7) * 32, (i >> 6) * 64);

    constexpr std::array<QRgb, 10> kLowSystemColours = {
        qRgb(0, 0, 0),     qRgb(128, 0, 0),   qRgb(0, 128, 0),     qRgb(128, 128, 0),   qRgb(0, 0, 128),
        qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192), qRgb(192, 220, 192), qRgb(166, 202, 240),
    };
    constexpr std::array<QRgb, 10> kHighSystemColours = {
        qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),
        qRgb(255, 255, 0),   qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255), qRgb(255, 255, 255),
    };
    for (std::size_t i = 0; i < 10; ++i) {
        palette[i] = kLowSystemColours[i];
        palette[246 + i] = kHighSystemColours[i];
    }
    return palette;
}

constexpr std::array<QRgb, HalftonePalette::kSize> kPalette = buildPalette();

// The palette by channel, so that the nearest-colour search reads three
// plain integer arrays.
struct Channels {
    std::array<std::int32_t, HalftonePalette::kSize> red{}, green{}, blue{};
};

constexpr Channels splitChannels()
{
    Channels channels;
    for (std::size_t i = 0; i < HalftonePalette::kSize; ++i) {
        channels.red[i] = qRed(kPalette[i]);
        channels.green[i] = qGreen(kPalette[i]);
        channels.blue[i] = qBlue(kPalette[i]);
    }
    return channels;
}

constexpr Channels kChannels = splitChannels();

// 3 * 255^2 shifted left by 8 stays below 2^31.
static_assert((3 * 255 * 255) << 8 < std::numeric_limits<std::int32_t>::max());

constexpr int firstWhite()
{
    for (int i = 0; i < HalftonePalette::kSize; ++i) {
        if ((kPalette[std::size_t(i)] & 0xFFFFFF) == 0xFFFFFF)
            return i;
    }
    return -1;
}

constexpr int kWhiteIndex = firstWhite();
static_assert(kWhiteIndex >= 0, "the palette must contain pure white for PNG transparency");

// Memoises nearestIndex for one reduction. Open addressing over the 24-bit
// colour with 0 as the empty slot (stored keys carry a marker bit), grown
// before it is half full so that probes stay short.
class NearestCache {
public:
    NearestCache() : m_keys(kInitialSlots, 0), m_values(kInitialSlots, 0) {}

    std::uint8_t lookup(QRgb pixel)
    {
        const std::uint32_t key = (pixel & 0xFFFFFF) | kMarker;
        std::size_t slot = slotFor(key);
        while (m_keys[slot] != 0) {
            if (m_keys[slot] == key)
                return m_values[slot];
            slot = (slot + 1) & (m_keys.size() - 1);
        }
        const std::uint8_t index = HalftonePalette::nearestIndex(pixel);
        m_keys[slot] = key;
        m_values[slot] = index;
        if (++m_count * 2 > m_keys.size())
            grow();
        return index;
    }

private:
    static constexpr std::uint32_t kMarker = 0x1000000;
    static constexpr std::size_t kInitialSlots = 1024;

    std::size_t slotFor(std::uint32_t key) const
    {
        // Fibonacci hashing spreads neighbouring colours across the table.
        return std::size_t((key * 2654435769u) >> 8) & (m_keys.size() - 1);
    }

    void grow()
    {
        std::vector<std::uint32_t> keys(m_keys.size() * 2, 0);
        std::vector<std::uint8_t> values(keys.size(), 0);
        keys.swap(m_keys);
        values.swap(m_values);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == 0)
                continue;
            std::size_t slot = slotFor(keys[i]);
            while (m_keys[slot] != 0)
                slot = (slot + 1) & (m_keys.size() - 1);
            m_keys[slot] = keys[i];
            m_values[slot] = values[i];
        }
    }

    std::vector<std::uint32_t> m_keys;
    std::vector<std::uint8_t> m_values;
    std::size_t m_count = 0;
};

} // namespace

const std::array<QRgb, HalftonePalette::kSize> &HalftonePalette::entries()
{
    return kPalette;
}

int HalftonePalette::whiteIndex()
{
    return kWhiteIndex;
}

std::uint8_t HalftonePalette::nearestIndex(QRgb rgb)
{
    const int red = qRed(rgb);
    const int green = qGreen(rgb);
    const int blue = qBlue(rgb);
    // Each candidate is ranked by (distance << 8 | index): the smallest key
    // is the nearest entry, and among equally near ones the lowest index.
    // A plain minimum, unlike a compare-and-remember loop, vectorises.
    std::int32_t best = std::numeric_limits<std::int32_t>::max();
    for (int i = 0; i < kSize; ++i) {
        const int dr = kChannels.red[std::size_t(i)] - red;
        const int dg = kChannels.green[std::size_t(i)] - green;
        const int db = kChannels.blue[std::size_t(i)] - blue;
        const std::int32_t key = (dr * dr + dg * dg + db * db) << 8 | i;
        best = std::min(best, key);
    }
    return std::uint8_t(best & 0xFF);
}

IndexedPicture reduce(const Raster &picture)
{
    IndexedPicture reduced;
    if (picture.width <= 0 || picture.height <= 0)
        return reduced;
    assert(picture.pixels.size() == std::size_t(picture.width) * std::size_t(picture.height));

    reduced.width = picture.width;
    reduced.height = picture.height;
    reduced.indices.resize(picture.pixels.size());

    // A strip is long runs of white and of each character's colour, with a
    // few thousand anti-aliased shades at most: remembering the previous
    // pixel handles the runs, the cache the rest.
    NearestCache cache;
    // Masked pixels never have the top byte set, so this matches none.
    QRgb previous = 0xFFFFFFFF;
    std::uint8_t previousIndex = 0;
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        const QRgb pixel = picture.pixels[i] & 0xFFFFFF;
        if (pixel != previous) {
            previous = pixel;
            previousIndex = cache.lookup(pixel);
        }
        reduced.indices[i] = previousIndex;
    }
    return reduced;
}
