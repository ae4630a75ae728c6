#pragma once

#include <QImage>

#include <algorithm>

inline bool inked(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y)) > 64;
}

// The height of the first character's ink, read from the picture alone: the
// topmost band of inked rows is the first line; its leftmost run of inked
// columns is the first character.
inline int firstCharacterInkHeight(const QImage &image)
{
    const auto rowInked = [&](int y, int fromX, int toX) {
        for (int x = fromX; x < toX; ++x)
            if (inked(image, x, y))
                return true;
        return false;
    };
    int top = 0;
    while (top < image.height() && !rowInked(top, 0, image.width()))
        ++top;
    int bottom = top;
    while (bottom < image.height() && rowInked(bottom, 0, image.width()))
        ++bottom;
    const auto columnInked = [&](int x) {
        for (int y = top; y < bottom; ++y)
            if (inked(image, x, y))
                return true;
        return false;
    };
    int left = 0;
    while (left < image.width() && !columnInked(left))
        ++left;
    int right = left;
    while (right < image.width() && columnInked(right))
        ++right;
    int first = bottom;
    int last = top - 1;
    for (int y = top; y < bottom; ++y)
        if (rowInked(y, left, right)) {
            first = std::min(first, y);
            last = y;
        }
    return last - first + 1;
}
