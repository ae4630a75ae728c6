#include "export/webp_writer.h"

#include "export/export_errors.h"

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>

namespace {

// The largest duration a WebP frame records, in milliseconds.
constexpr int kMaxDelayMs = (1 << 24) - 1;

// Lossless effort: 0 fastest .. 9 smallest. At 6 a strip is within a few per
// cent of the smallest, several times faster.
constexpr int kLosslessLevel = 6;

QuillowError webpError(const QString &detail)
{
    return encoderFailedError(QStringLiteral("WebP"), QStringLiteral("libwebp %1").arg(detail));
}

struct AnimEncoderRelease {
    void operator()(WebPAnimEncoder *encoder) const { WebPAnimEncoderDelete(encoder); }
};

struct PictureRelease {
    void operator()(WebPPicture *picture) const { WebPPictureFree(picture); }
};

struct DataRelease {
    void operator()(WebPData *data) const { WebPDataClear(data); }
};

struct DemuxRelease {
    void operator()(WebPDemuxer *demuxer) const { WebPDemuxDelete(demuxer); }
};

QString encoderReason(WebPAnimEncoder *encoder)
{
    const char *reason = WebPAnimEncoderGetError(encoder);
    return reason && *reason ? QString::fromLatin1(reason) : QStringLiteral("未知错误");
}

} // namespace

EncodedAnimation encodeWebp(const Animation &animation, const WebpOptions &options)
{
    checkAnimation(animation, kMaxDelayMs);
    if (options.quality < -1 || options.quality > 100)
        throw qualityRangeError(options.quality);
    if (animation.loopCount > 65535)
        throw QuillowError(QStringLiteral("循环次数 %1 超出 WebP 的上限。").arg(animation.loopCount));

    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw webpError(QStringLiteral("WebPConfigInit：版本不符"));
    if (options.quality < 0) {
        if (!WebPConfigLosslessPreset(&config, kLosslessLevel))
            throw webpError(QStringLiteral("WebPConfigLosslessPreset：参数无效"));
    } else {
        config.quality = float(options.quality);
    }
    if (!WebPValidateConfig(&config))
        throw webpError(QStringLiteral("WebPValidateConfig：参数无效"));

    WebPAnimEncoderOptions encoderOptions;
    if (!WebPAnimEncoderOptionsInit(&encoderOptions))
        throw webpError(QStringLiteral("WebPAnimEncoderOptionsInit：版本不符"));
    encoderOptions.anim_params.loop_count = animation.loopCount;
    encoderOptions.anim_params.bgcolor = 0; // a hint only: transparent
    const QSize size = animation.frames.front().image.size();
    const std::unique_ptr<WebPAnimEncoder, AnimEncoderRelease> encoder(
        WebPAnimEncoderNew(size.width(), size.height(), &encoderOptions));
    if (!encoder)
        throw webpError(QStringLiteral("WebPAnimEncoderNew：创建失败"));

    const std::vector<QImage> frames = straightFrames(animation);
    int timestamp = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        WebPPicture picture;
        if (!WebPPictureInit(&picture))
            throw webpError(QStringLiteral("WebPPictureInit：版本不符"));
        picture.use_argb = 1;
        picture.width = size.width();
        picture.height = size.height();
        const std::unique_ptr<WebPPicture, PictureRelease> owned(&picture);
        if (!WebPPictureImportRGBA(&picture, frames[i].constBits(), int(frames[i].bytesPerLine())))
            throw webpError(QStringLiteral("WebPPictureImportRGBA：内存不足"));
        if (!WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config))
            throw webpError(QStringLiteral("WebPAnimEncoderAdd：%1").arg(encoderReason(encoder.get())));
        timestamp += animation.frames[i].delayMs;
    }
    // The end time of the last frame gives its duration.
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr))
        throw webpError(QStringLiteral("WebPAnimEncoderAdd：%1").arg(encoderReason(encoder.get())));

    WebPData data;
    WebPDataInit(&data);
    const std::unique_ptr<WebPData, DataRelease> ownedData(&data);
    if (!WebPAnimEncoderAssemble(encoder.get(), &data))
        throw webpError(QStringLiteral("WebPAnimEncoderAssemble：%1").arg(encoderReason(encoder.get())));

    const std::unique_ptr<WebPDemuxer, DemuxRelease> demuxer(WebPDemux(&data));
    if (!demuxer)
        throw webpError(QStringLiteral("WebPDemux：无法读回刚编码的文件"));
    const int frameCount = int(WebPDemuxGetI(demuxer.get(), WEBP_FF_FRAME_COUNT));
    return {QByteArray(reinterpret_cast<const char *>(data.bytes), qsizetype(data.size)), frameCount, -1, {}};
}
