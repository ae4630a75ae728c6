#pragma once

#include "export/animation_frames.h"

// Below this palette quality (libimagequant's 0 .. 100) an APNG is written
// in RGBA instead of with a shared palette. At 90 the palette's largest
// errors stay within a few levels per channel on a strip's flat colours and
// soft edges (the tests composite the last frame on white and on a dark
// ground and allow 8 levels); below it, gradients and many colours start to
// band visibly, and RGBA costs about three times the bytes but is exact.
constexpr int kApngMinPaletteQuality = 90;

struct ApngOptions {
    int maxColours = 256;                           // 2 .. 256
    int minPaletteQuality = kApngMinPaletteQuality; // 0 .. 101; 101 always writes RGBA
    // For an animation that loops forever, show its cycle starting at the
    // last frame (see encodeApng()).
    bool startWithLastFrame = true;
};

// Encodes `animation` as an animated PNG (the PNG standard with the APNG
// extension: acTL, fcTL, fdAT), through the program's own chunk writer.
//
// The default image (IDAT), which viewers without APNG support show alone,
// is always the LAST frame: the finished picture. Each frame holds only the
// smallest rectangle it must change, with the dispose and blend operations
// that make it cheapest, so frames that only hide parts of the finished
// picture cost almost nothing beyond their headers.
//
// The order of frames: when the default image is also the first frame
// shown, every later frame can start from it (dispose "previous" restores
// it after each), which costs least. So when the animation loops forever and
// `startWithLastFrame` is set, the file shows the same cycle starting at the
// last frame: last, first, second, ... second to last, and again. Otherwise
// the frames keep their given order and the default image is not part of
// the animation (its fcTL-less IDAT comes before the first fcTL), which
// costs the finished picture once more. A single frame, or a first frame
// equal to the last, is simply the default image.
//
// The pixels are indices into one palette shared by all frames (PLTE and
// tRNS, so soft edges keep partial transparency) unless that palette's
// quality falls below `minPaletteQuality`; then they are RGBA. Delays are
// kept to the millisecond. Throws QuillowError (before encoding) for an
// animation checkAnimation() refuses with a limit of 65535 ms, for options
// out of range, and when the palette or compression fails.
EncodedAnimation encodeApng(const Animation &animation, const ApngOptions &options = {});
