#pragma once

#include <QRect>

#include <cstdint>
#include <vector>

// A whole canvas as one 32-bit code per pixel (a palette index, or a packed
// colour), width * height of them, top row first.
using PixelCodes = std::vector<std::uint32_t>;

// The smallest rectangle holding every pixel where `before` and `after`
// differ; a null rectangle when they are equal. Both hold width * height
// codes.
QRect changedRect(const PixelCodes &before, const PixelCodes &after, int width);

// `canvas` with every pixel of `rect` set to `code`.
void fillRect(PixelCodes &canvas, int width, const QRect &rect, std::uint32_t code);
