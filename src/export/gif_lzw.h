#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One pixel of a GIF frame, as the LZW coder may write it: `shown`, or, where
// the frame leaves the canvas as it is, `alternative`: a pixel that does not
// change may be drawn again or left transparent, and both look the same.
// Where there is no choice the two are equal.
struct LzwPixel {
    std::uint8_t shown = 0;
    std::uint8_t alternative = 0;
};

// The smallest LZW minimum code size (2 .. 8) that holds every palette index
// of `pixels`, either of each pair.
int lzwMinimumCodeSize(std::span<const LzwPixel> pixels);

// The table-based image data of a GIF frame (GIF89a's
// "Table Based Image Data"): the LZW minimum code size byte, the LZW codes in
// sub-blocks of at most 255 bytes, and the block terminator.
//
// The codes are the smallest this coder finds among a few ways of coding:
// every pixel as `shown`, or each pixel with a choice taking the entry that
// lengthens the string being matched; the code table cleared when it fills or kept full
// until the end (decoders keep using a full table until the next clear
// code). Every index of `pixels` must be below 2^minimumCodeSize.
std::vector<std::uint8_t> lzwImageData(std::span<const LzwPixel> pixels, int minimumCodeSize);
