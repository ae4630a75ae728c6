#pragma once

#include "export/animation_frames.h"

// Sharp glyph edges survive at this level, and a 512 px reveal stays far
// below a chat's video cap.
constexpr int kDefaultWebmCrf = 32;
constexpr int kMaxWebmCrf = 63;

struct WebmOptions {
    int frameRate = 30;        // frames per second of the video, 1 .. 120
    int maxDurationMs = 3000;  // the longest the video may play, at least one frame's time
    int crf = kDefaultWebmCrf; // VP9's constant quality, 0 (best) .. kMaxWebmCrf (smallest)
};

// Encodes `animation` as a WEBM video through FFmpeg's libraries: VP9 by
// libvpx at yuva420p (the alpha channel as a second VP9 stream in the
// Matroska block additions, AlphaMode 1), no audio, frames shown at a
// constant `frameRate`. Each video frame shows the animation's frame of its
// time; the last one always shows the last frame.
//
// An animation longer than `maxDurationMs` is shortened: first its last
// frame's hold, down to the longest other frame's delay, then every frame in
// proportion; `warnings` in the result then says so, in Chinese. WEBM has no
// loop count: players that loop (chat apps' video stickers do) loop it
// whatever `animation.loopCount` says.
//
// The same animation and options give the same bytes, on any number of
// cores (the encoder runs on one thread). The result's `frames` counts the
// video's frames. Throws QuillowError before encoding for an animation
// checkAnimation() refuses or options out of range, and when FFmpeg fails.
EncodedAnimation encodeWebm(const Animation &animation, const WebmOptions &options = {});
