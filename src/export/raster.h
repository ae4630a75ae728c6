#pragma once

#include <QRgb>

#include <cstdint>
#include <vector>

class QImage;

// The picture taken of the output area: width x height pixels, top row first,
// each 0xAARRGGBB with alpha ignored (QRgb), and the pixel depth of the
// surface it came from (32 on true-colour displays; 24 is also written).
struct Raster {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int depth = 32;
    std::vector<QRgb> pixels; // width * height entries

    QRgb pixel(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
};

// The picture of `image` in its physical pixels (its device pixel ratio plays
// no part), at depth 32. Pixels with alpha are flattened as Qt converts to
// Format_RGB32 (premultiplied colour, so over black): give it an opaque image.
// A null image gives an empty (0 x 0) picture.
Raster rasterFromImage(const QImage &image);
