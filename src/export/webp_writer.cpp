#include "export/webp_writer.h"

#include "export/export_errors.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

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

struct MuxRelease {
    void operator()(WebPMux *mux) const { WebPMuxDelete(mux); }
};

struct MuxFrameRelease {
    void operator()(WebPMuxFrameInfo *frame) const { WebPDataClear(&frame->bitstream); }
};

struct EncodedRelease {
    void operator()(std::uint8_t *bytes) const { WebPFree(bytes); }
};

// The encoder's file `file` with every frame of `delaysMs` a frame of its
// own again. libwebp's animation encoder merges a frame equal to the one
// before into it whatever its options say (it looks for the changed
// rectangle before it weighs a key frame), so each merged frame comes back
// as one that draws nothing: fully transparent pixels blended over the
// rectangle of the frame it was merged into, which show what was there.
// That frame's disposal moves to the last of them, so the rectangle is
// cleared, if at all, when the next real frame comes, as before.
QByteArray withEveryFrame(const QByteArray &file, const std::vector<int> &delaysMs, int loopCount)
{
    const WebPData data{reinterpret_cast<const std::uint8_t *>(file.constData()), std::size_t(file.size())};
    const std::unique_ptr<WebPMux, MuxRelease> merged(WebPMuxCreate(&data, 0));
    const std::unique_ptr<WebPMux, MuxRelease> restored(WebPMuxNew());
    if (!merged || !restored)
        throw std::bad_alloc();
    // Frames that all merged into one may come back as a still picture.
    WebPMuxAnimParams params{0, loopCount};
    const bool still = WebPMuxGetAnimationParams(merged.get(), &params) != WEBP_MUX_OK;
    int width = 0, height = 0, frames = 1;
    if (WebPMuxGetCanvasSize(merged.get(), &width, &height) != WEBP_MUX_OK ||
        (!still && WebPMuxNumChunks(merged.get(), WEBP_CHUNK_ANMF, &frames) != WEBP_MUX_OK))
        throw webpError(QStringLiteral("WebPMux：读不回编码器写出的动画"));
    if (WebPMuxSetAnimationParams(restored.get(), &params) != WEBP_MUX_OK ||
        WebPMuxSetCanvasSize(restored.get(), width, height) != WEBP_MUX_OK)
        throw std::bad_alloc();

    const auto push = [&restored](const WebPMuxFrameInfo &frame) {
        const WebPMuxError error = WebPMuxPushFrame(restored.get(), &frame, 1);
        if (error == WEBP_MUX_MEMORY_ERROR)
            throw std::bad_alloc();
        if (error != WEBP_MUX_OK)
            throw webpError(QStringLiteral("WebPMuxPushFrame：错误 %1").arg(int(error)));
    };
    std::size_t next = 0; // the first delay the frames so far have not covered
    for (int number = 1; number <= frames; ++number) {
        WebPMuxFrameInfo frame;
        if (WebPMuxGetFrame(merged.get(), number, &frame) != WEBP_MUX_OK)
            throw webpError(QStringLiteral("WebPMux：读不回第 %1 帧").arg(number));
        const std::unique_ptr<WebPMuxFrameInfo, MuxFrameRelease> owned(&frame);
        if (still) {
            frame.id = WEBP_CHUNK_ANMF;
            frame.duration = std::accumulate(delaysMs.begin(), delaysMs.end(), 0);
            frame.dispose_method = WEBP_MUX_DISPOSE_NONE;
            frame.blend_method = WEBP_MUX_BLEND;
        }
        // The delays this frame stands for: its own and those merged into it.
        std::size_t end = next;
        long long covered = 0;
        while (end < delaysMs.size() && covered < frame.duration)
            covered += delaysMs[end++];
        if (covered != frame.duration || end == next)
            throw webpError(QStringLiteral("WebP 动画的第 %1 帧与原来的帧对不上").arg(number));

        const WebPMuxAnimDispose dispose = frame.dispose_method;
        frame.duration = delaysMs[next];
        frame.dispose_method = end - next > 1 ? WEBP_MUX_DISPOSE_NONE : dispose;
        push(frame);
        if (end - next > 1) {
            int frameWidth = 0, frameHeight = 0;
            if (!WebPGetInfo(frame.bitstream.bytes, frame.bitstream.size, &frameWidth, &frameHeight))
                throw webpError(QStringLiteral("WebP 动画的第 %1 帧读不出大小").arg(number));
            const std::vector<std::uint8_t> clear(std::size_t(frameWidth) * std::size_t(frameHeight) * 4, 0);
            std::uint8_t *encoded = nullptr;
            const std::size_t size =
                WebPEncodeLosslessRGBA(clear.data(), frameWidth, frameHeight, frameWidth * 4, &encoded);
            const std::unique_ptr<std::uint8_t, EncodedRelease> ownedEncoded(encoded);
            if (size == 0)
                throw std::bad_alloc();
            WebPMuxFrameInfo unchanged = frame;
            unchanged.bitstream = {encoded, size};
            unchanged.blend_method = WEBP_MUX_BLEND;
            for (std::size_t delay = next + 1; delay < end; ++delay) {
                unchanged.duration = delaysMs[delay];
                unchanged.dispose_method = delay + 1 == end ? dispose : WEBP_MUX_DISPOSE_NONE;
                push(unchanged);
            }
        }
        next = end;
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    const std::unique_ptr<WebPData, DataRelease> ownedAssembled(&assembled);
    if (WebPMuxAssemble(restored.get(), &assembled) != WEBP_MUX_OK)
        throw std::bad_alloc();
    return QByteArray(reinterpret_cast<const char *>(assembled.bytes), qsizetype(assembled.size));
}

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
                                const WebPConfig &config, const WebpOptions &options)
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
    const QByteArray file(reinterpret_cast<const char *>(data.bytes), qsizetype(data.size));
    if (options.keepEveryFrame && std::size_t(frameCount) < frames.size()) {
        std::vector<int> delaysMs;
        for (const AnimationFrame &frame : animation.frames)
            delaysMs.push_back(frame.delayMs);
        return {withEveryFrame(file, delaysMs, animation.loopCount), int(frames.size()), -1, {}};
    }
    return {file, frameCount, -1, {}};
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
        EncodedAnimation animated = encodeAnimated(animation, frames, config, options);
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
