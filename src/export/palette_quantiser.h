#pragma once

#include <QImage>
#include <QRgb>

#include <cstdint>
#include <vector>

// The frames of an animation reduced to one palette they all share.
struct QuantisedFrames {
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Straight-alpha entries (qRgba), at most 256, those that are not fully
    // opaque first. When any frame has a fully transparent pixel, or there
    // is room, one entry is fully transparent (see transparentIndex).
    std::vector<QRgb> palette;
    // One per frame: width * height palette indices, top row first.
    std::vector<std::vector<std::uint8_t>> indices;
    // The entry every fully transparent pixel maps to; -1 when the palette
    // is full and no pixel is transparent.
    int transparentIndex = -1;
    // libimagequant's quality of the palette, 0 (worst) .. 100 (exact).
    int quality = 0;
};

// Builds one palette of at most `maxColours` entries from libimagequant's
// histogram of every frame, and maps each pixel to its nearest entry without
// dithering, so that a pixel of one colour gets one index in every frame
// (frames that differ only where they change stay equal elsewhere). Nearness
// is measured on premultiplied colour, which is what shows on any ground.
//
// `frames` are straight RGBA (QImage::Format_RGBA8888), non-empty, all of one
// size. Throws QuillowError for `maxColours` outside 2 .. 256 and when
// libimagequant fails; frees everything it allocated in every case.
QuantisedFrames quantiseFrames(const std::vector<QImage> &frames, int maxColours = 256);
