#include "export/animation_frames.h"

#include "composition/image_memory.h"
#include "export/export_errors.h"

void checkAnimation(const Animation &animation, int maxDelayMs)
{
    if (animation.frames.empty())
        throw noFramesError();
    const QSize size = animation.frames.front().image.size();
    for (const AnimationFrame &frame : animation.frames) {
        if (frame.image.isNull())
            throw emptyPictureError();
        if (frame.image.size() != size)
            throw frameSizeMismatchError();
        if (frame.delayMs < 0 || frame.delayMs > maxDelayMs)
            throw frameDelayError(frame.delayMs);
    }
    if (animation.loopCount < 0)
        throw QuillowError(QStringLiteral("循环次数 %1 不能为负数。").arg(animation.loopCount));
}

std::vector<QImage> straightFrames(const Animation &animation)
{
    std::vector<QImage> frames;
    frames.reserve(animation.frames.size());
    for (const AnimationFrame &frame : animation.frames)
        frames.push_back(convertedHere(frame.image, QImage::Format_RGBA8888));
    return frames;
}
