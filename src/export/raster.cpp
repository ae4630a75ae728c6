#include "export/raster.h"

#include "composition/image_memory.h"

#include <QImage>

#include <algorithm>

Raster rasterFromImage(const QImage &image)
{
    Raster picture;
    if (image.isNull())
        return picture;

    // The conversion is free for the usual RGB32 capture; anything else is
    // brought to opaque 0xFFRRGGBB pixels first.
    const QImage opaque = convertedHere(image, QImage::Format_RGB32);
    picture.width = opaque.width();
    picture.height = opaque.height();
    // True colour, as on every display the program runs on.
    picture.depth = 32;
    picture.pixels.resize(std::size_t(picture.width) * std::size_t(picture.height));
    for (int y = 0; y < picture.height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(opaque.constScanLine(y));
        std::copy(line, line + picture.width, picture.pixels.begin() + std::ptrdiff_t(y) * picture.width);
    }
    return picture;
}
