#pragma once

#include "export/animation_frames.h"

#include <QColor>

#include <optional>

struct GifOptions {
    int maxColours = 256; // 2 .. 256, one of them the transparent entry
    // GIF pixels are either opaque or fully transparent. Without a matte, a
    // pixel is opaque when its alpha is at least 50 %, in its un-premultiplied
    // colour. With one, every pixel that is not fully transparent is
    // blended onto it and made opaque: soft edges for a known background.
    std::optional<QColor> matte;
};

// Encodes `animation` as a GIF89a through giflib: one global palette from
// the shared libimagequant palette of every frame (with its transparent
// entry as the background colour), the NETSCAPE2.0 loop extension (a loop
// count of N plays N times, 0 forever), and for each frame its delay in
// centiseconds (rounded so that the total stays the total of the
// milliseconds), only the smallest rectangle that changes, unchanged pixels
// as the transparent entry, and the disposal that lets the next frame cost
// least.
//
// Throws QuillowError before encoding for an animation checkAnimation()
// refuses (delays up to 655350 ms) or options out of range, and when the
// palette or giflib fails.
EncodedAnimation encodeGif(const Animation &animation, const GifOptions &options = {});
