#include "export/animation_decoding.h"

#include "composition/quillow_error.h"
#include "export/apng_reader.h"
#include "export/output_format.h"

#include <QBuffer>
#include <QImageReader>

#include <webp/demux.h>

#include <cmath>
#include <memory>

namespace {

constexpr auto kShown = QImage::Format_ARGB32_Premultiplied;

[[noreturn]] void unreadable(QLatin1StringView format, const QString &why)
{
    throw QuillowError(QStringLiteral("无法读取生成的 %1 文件：%2").arg(format.toString().toUpper(), why));
}

Animation decodeWithQt(const QByteArray &bytes, const OutputFileFormat &format)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, QByteArray(format.suffix.data(), format.suffix.size()));
    Animation animation;
    animation.loopCount = std::max(0, reader.loopCount() + 1);
    QImage image;
    while (reader.read(&image))
        animation.frames.push_back({image.convertToFormat(kShown), std::max(0, reader.nextImageDelay())});
    if (animation.frames.empty())
        unreadable(format.name, reader.errorString());
    return animation;
}

Animation decodeApng(const QByteArray &bytes)
{
    const ApngContents contents = readApng(bytes);
    Animation animation;
    animation.loopCount = std::max(0, contents.plays);
    for (const ApngShownFrame &frame : contents.frames)
        animation.frames.push_back({frame.image.convertToFormat(kShown), int(std::lround(frame.delayMs))});
    if (animation.frames.empty())
        animation.frames.push_back({contents.defaultImage.convertToFormat(kShown), 0});
    return animation;
}

struct AnimDecoderRelease {
    void operator()(WebPAnimDecoder *decoder) const { WebPAnimDecoderDelete(decoder); }
};

Animation decodeWebp(const QByteArray &bytes)
{
    const WebPData data{reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        unreadable(QLatin1StringView("webp"), QStringLiteral("libwebp 版本不符"));
    // Straight alpha in memory order R, G, B, A on every byte order.
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderRelease> decoder(WebPAnimDecoderNew(&data, &options));
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info))
        unreadable(QLatin1StringView("webp"), QStringLiteral("不是 WebP 数据"));
    Animation animation;
    animation.loopCount = int(info.loop_count);
    int shownUntil = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        std::uint8_t *pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
            unreadable(QLatin1StringView("webp"),
                       QStringLiteral("第 %1 帧无法解码").arg(animation.frames.size() + 1));
        // The decoder owns `pixels` until the next frame: copied by the conversion.
        const QImage canvas(pixels, int(info.canvas_width), int(info.canvas_height), QImage::Format_RGBA8888);
        animation.frames.push_back({canvas.convertToFormat(kShown), timestamp - shownUntil});
        shownUntil = timestamp;
    }
    if (animation.frames.empty())
        unreadable(QLatin1StringView("webp"), QStringLiteral("没有帧"));
    return animation;
}

} // namespace

Animation decodeAnimation(const QByteArray &bytes, const OutputFileFormat &format)
{
    if (format.name == QLatin1StringView("apng"))
        return decodeApng(bytes);
    if (format.name == QLatin1StringView("webp"))
        return decodeWebp(bytes);
    return decodeWithQt(bytes, format);
}
