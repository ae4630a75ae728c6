#include "export/webp_writer.h"

#include "export/export_errors.h"

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>
#include <new>

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

bool outOfMemory(WebPEncodingError error)
{
    return error == VP8_ENC_ERROR_OUT_OF_MEMORY || error == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY;
}

// `frame` (straight RGBA) as a picture the encoder takes. Importing only
// copies, so only the allocation can fail.
void importFrame(WebPPicture &picture, const QImage &frame)
{
    if (!WebPPictureInit(&picture))
        throw webpError(QStringLiteral("WebPPictureInit：版本不符"));
    picture.use_argb = 1;
    picture.width = frame.width();
    picture.height = frame.height();
    if (!WebPPictureImportRGBA(&picture, frame.constBits(), int(frame.bytesPerLine())))
        throw std::bad_alloc();
}

// One picture as a still WebP: the simple format, or the extended one with
// an alpha chunk, never an animation.
QByteArray encodeStill(const QImage &frame, const WebPConfig &config)
{
    WebPPicture picture;
    importFrame(picture, frame);
    const std::unique_ptr<WebPPicture, PictureRelease> owned(&picture);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    const std::unique_ptr<WebPMemoryWriter, decltype(&WebPMemoryWriterClear)> ownedWriter(
        &writer, WebPMemoryWriterClear);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    if (!WebPEncode(&config, &picture)) {
        if (outOfMemory(picture.error_code))
            throw std::bad_alloc();
        throw webpError(QStringLiteral("WebPEncode：错误 %1").arg(int(picture.error_code)));
    }
    return QByteArray(reinterpret_cast<const char *>(writer.mem), qsizetype(writer.size));
}

// The frames through libwebp's animation encoder. Its options and the
// frames are checked before, so beyond the errors a frame reports only
// the allocations can fail.
EncodedAnimation encodeAnimated(const Animation &animation, const std::vector<QImage> &frames,
                                const WebPConfig &config)
{
    WebPAnimEncoderOptions encoderOptions;
    if (!WebPAnimEncoderOptionsInit(&encoderOptions))
        throw webpError(QStringLiteral("WebPAnimEncoderOptionsInit：版本不符"));
    encoderOptions.anim_params.loop_count = animation.loopCount;
    encoderOptions.anim_params.bgcolor = 0; // a hint only: transparent
    const QSize size = frames.front().size();
    const std::unique_ptr<WebPAnimEncoder, AnimEncoderRelease> encoder(
        WebPAnimEncoderNew(size.width(), size.height(), &encoderOptions));
    if (!encoder)
        throw std::bad_alloc();

    int timestamp = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        WebPPicture picture;
        importFrame(picture, frames[i]);
        const std::unique_ptr<WebPPicture, PictureRelease> owned(&picture);
        if (!WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config)) {
            if (outOfMemory(picture.error_code))
                throw std::bad_alloc();
            throw webpError(QStringLiteral("WebPAnimEncoderAdd：%1").arg(encoderReason(encoder.get())));
        }
        timestamp += animation.frames[i].delayMs;
    }
    // The end time of the last frame gives its duration.
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr))
        throw std::bad_alloc();

    WebPData data;
    WebPDataInit(&data);
    const std::unique_ptr<WebPData, DataRelease> ownedData(&data);
    if (!WebPAnimEncoderAssemble(encoder.get(), &data))
        throw std::bad_alloc();
    const std::unique_ptr<WebPDemuxer, DemuxRelease> demuxer(WebPDemux(&data));
    if (!demuxer)
        throw std::bad_alloc();
    const int frameCount = int(WebPDemuxGetI(demuxer.get(), WEBP_FF_FRAME_COUNT));
    return {QByteArray(reinterpret_cast<const char *>(data.bytes), qsizetype(data.size)), frameCount, -1, {}};
}

} // namespace

EncodedAnimation encodeWebp(const Animation &animation, const WebpOptions &options)
{
    checkAnimation(animation, kMaxDelayMs);
    if (options.quality < -1 || options.quality > 100)
        throw qualityRangeError(options.quality);
    if (animation.loopCount > 65535)
        throw QuillowError(QStringLiteral("循环次数 %1 超出 WebP 的上限。").arg(animation.loopCount));
    const QSize size = animation.frames.front().image.size();
    if (size.width() > WEBP_MAX_DIMENSION || size.height() > WEBP_MAX_DIMENSION)
        throw pictureTooLargeError(size.width(), size.height());

    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw webpError(QStringLiteral("WebPConfigInit：版本不符"));
    if (options.quality < 0) {
        if (!WebPConfigLosslessPreset(&config, kLosslessLevel))
            throw webpError(QStringLiteral("WebPConfigLosslessPreset：参数无效"));
    } else {
        config.quality = float(options.quality);
        // Lossy WebP keeps colour at half resolution; the plain conversion
        // smears a glyph's colour into the white outline beside it. The
        // sharper conversion keeps that edge clean for a few more bytes.
        config.use_sharp_yuv = 1;
    }
    if (!WebPValidateConfig(&config))
        throw webpError(QStringLiteral("WebPValidateConfig：参数无效"));

    const std::vector<QImage> frames = straightFrames(animation);
    if (frames.size() > 1) {
        EncodedAnimation animated = encodeAnimated(animation, frames, config);
        if (animated.frames > 1)
            return animated;
    }
    // The animation encoder writes a single frame as a one-frame animation
    // whenever that comes out smaller than a still, and decoders such as
    // dwebp and FFmpeg refuse those. A still says the same without the doubt.
    return {encodeStill(frames.front(), config), 1, -1, {}};
}

void checkWebpFrameTimes(const QByteArray &file, const WebpFrameTimes &rules)
{
    const WebPData data{reinterpret_cast<const std::uint8_t *>(file.constData()), std::size_t(file.size())};
    const std::unique_ptr<WebPDemuxer, DemuxRelease> demuxer(WebPDemux(&data));
    if (!demuxer)
        throw QuillowError(QStringLiteral("不是 WebP 文件，无法检查帧的时间"));
    if ((WebPDemuxGetI(demuxer.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) == 0)
        return;
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame))
        throw QuillowError(QStringLiteral("WebP 动画没有帧"));
    long long totalMs = 0;
    do {
        if (frame.duration < rules.minFrameMs) {
            const QString message = QStringLiteral("WebP 动画的第 %1 帧只显示 %2 毫秒，每帧至少要 %3 毫秒")
                                        .arg(frame.frame_num)
                                        .arg(frame.duration)
                                        .arg(rules.minFrameMs);
            WebPDemuxReleaseIterator(&frame);
            throw QuillowError(message);
        }
        totalMs += frame.duration;
    } while (WebPDemuxNextFrame(&frame));
    WebPDemuxReleaseIterator(&frame);
    if (totalMs > rules.maxTotalMs)
        throw QuillowError(
            QStringLiteral("WebP 动画共 %1 毫秒，最长只能 %2 毫秒").arg(totalMs).arg(rules.maxTotalMs));
}
