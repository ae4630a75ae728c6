#pragma once

#include "export/raster.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <vector>

// The fixed 256-colour halftone palette of a true-colour screen: a
// 8 x 8 x 4 colour cube whose first and last ten entries are replaced by the
// twenty static system colours. Pure white is the last entry.
class HalftonePalette {
public:
    static constexpr int kSize = 256;

    // Entry `index` (0..255) as 0xFFRRGGBB.
    static QRgb colour(int index) { return entries()[std::size_t(index)]; }
    static const std::array<QRgb, kSize> &entries();

    // The first entry that is pure white; PNG's transparency table ends there.
    static int whiteIndex();

    // The entry nearest to `rgb` (alpha ignored) by squared distance in RGB,
    // the lowest index among equally near entries. Searches all 256 entries.
    static std::uint8_t nearestIndex(QRgb rgb);
};

// A picture as palette indices into HalftonePalette: width * height bytes,
// top row first.
struct IndexedPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> indices;

    std::uint8_t index(int x, int y) const
    {
        return indices[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    }
};

// Maps every pixel of `picture` to HalftonePalette::nearestIndex, without
// dithering. Any size, zero included.
IndexedPicture reduce(const Raster &picture);
