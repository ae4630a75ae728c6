#pragma once

#include <QImage>

#include <vector>

// One picture of an animation: the whole canvas, as it looks while the frame
// shows, in QImage::Format_ARGB32_Premultiplied, shown for `delayMs`.
struct AnimationFrame {
    QImage image;
    int delayMs = 0;
};

// The frames of one animation, every one the same size, in showing order.
// A still is an animation of one frame.
struct Animation {
    std::vector<AnimationFrame> frames;
    int loopCount = 0; // 0: loops forever
};
