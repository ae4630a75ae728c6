#pragma once

#include <QImage>

// Whether the outermost rows and columns of `image` are fully transparent:
// what a canvas with room for everything drawn on it looks like.
inline bool borderIsTransparent(const QImage &image)
{
    for (int x = 0; x < image.width(); ++x)
        if (qAlpha(image.pixel(x, 0)) || qAlpha(image.pixel(x, image.height() - 1)))
            return false;
    for (int y = 0; y < image.height(); ++y)
        if (qAlpha(image.pixel(0, y)) || qAlpha(image.pixel(image.width() - 1, y)))
            return false;
    return true;
}
