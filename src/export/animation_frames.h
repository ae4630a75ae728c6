#pragma once

#include "composition/animation.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

#include <vector>

// What an encoder made of an animation: the whole file, how many frames it
// holds, and the quality (libimagequant's 0 .. 100) of the palette it used,
// or -1 when it used none; and what the user should know about how it was
// made (a video shortened to its format's longest), in Chinese.
struct EncodedAnimation {
    QByteArray bytes;
    int frames = 0;
    int quality = -1;
    QStringList warnings;
};

// Checks what every animated writer needs before it writes a byte: at least
// one frame, every frame non-null and the size of the first, every delay in
// 0 .. maxDelayMs, and a loop count of at least 0. Throws QuillowError with
// the user's message otherwise.
void checkAnimation(const Animation &animation, int maxDelayMs);

// Each frame's picture with straight (un-premultiplied) alpha, in
// QImage::Format_RGBA8888 (bytes R, G, B, A), in the frames' order.
std::vector<QImage> straightFrames(const Animation &animation);
