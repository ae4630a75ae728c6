#pragma once

#include "export/animation_frames.h"

struct WebpOptions {
    // -1: lossless (every pixel exact); 0 .. 100: lossy at that quality.
    int quality = -1;
    // Every frame of an animation stays a frame of its own, one equal to the
    // frame before too (as a frame that changes nothing), so that files cut
    // from one animation keep one timeline.
    bool keepEveryFrame = false;
};

// Encodes `animation` as an animated WebP through libwebp's animation
// encoder, with its loop count (0 forever) and each frame's delay in
// milliseconds. Unless asked to keep every frame, the encoder merges a frame
// equal to the one before into it (one frame, the delays added), so the
// result's `frames` counts the frames in the file. A single frame, or
// frames that all merge into one, make a still WebP (no ANIM or ANMF
// chunk), which every decoder reads. Throws
// QuillowError before encoding for an animation checkAnimation() refuses
// (delays up to 2^24 - 1 ms), a picture wider or higher than WebP allows or
// a quality out of range, and when libwebp fails; std::bad_alloc when it
// runs out of memory.
EncodedAnimation encodeWebp(const Animation &animation, const WebpOptions &options = {});

// What an app asks of an animated WebP's timing.
struct WebpFrameTimes {
    int minFrameMs = 0; // every frame shows at least this long
    int maxTotalMs = 0; // all frames together at most this long
};

// Checks the frames of the WebP file `file` against `rules`, as the file
// records them (after the encoder merged equal frames). A still WebP has no
// timing and passes. Throws QuillowError naming the first rule broken, and
// when `file` is not a WebP.
void checkWebpFrameTimes(const QByteArray &file, const WebpFrameTimes &rules);
