#pragma once

#include <QColor>

#include <cstdint>

// A colour as the rest of the program passes it around: red in bits 0-7,
// green in 8-15, blue in 16-23. Bits 24-31 are ignored by every consumer.
using ColourValue = std::uint32_t;

constexpr ColourValue kBlue = 0xFF0000; // 16711680
constexpr ColourValue kRed = 0x0000FF;  // 255

constexpr ColourValue colourValue(int red, int green, int blue)
{
    return ColourValue(red & 0xFF) | ColourValue(green & 0xFF) << 8 | ColourValue(blue & 0xFF) << 16;
}
constexpr int redOf(ColourValue c)
{
    return int(c & 0xFF);
}
constexpr int greenOf(ColourValue c)
{
    return int((c >> 8) & 0xFF);
}
constexpr int blueOf(ColourValue c)
{
    return int((c >> 16) & 0xFF);
}

QColor toQColor(ColourValue c);
ColourValue fromQColor(const QColor &c);
