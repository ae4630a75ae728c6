#include "export/animation_decoding.h"

#include "composition/quillow_error.h"
#include "export/apng_reader.h"
#include "export/ffmpeg_library.h"
#include "export/output_format.h"

#include <QBuffer>
#include <QImageReader>

#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr auto kShown = QImage::Format_ARGB32_Premultiplied;

[[noreturn]] void unreadable(QLatin1StringView format, const QString &why)
{
    throw QuillowError(QStringLiteral("无法读取生成的 %1 文件：%2").arg(format.toString().toUpper(), why));
}

Animation qtFrames(const QByteArray &bytes, const OutputFileFormat &format)
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

Animation apngFrames(const QByteArray &bytes)
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

Animation webpFrames(const QByteArray &bytes)
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

// --- WEBM ------------------------------------------------------------------------

[[noreturn]] void unreadableWebm(const QString &why)
{
    unreadable(QLatin1StringView("webm"), why);
}

void checkFfmpeg(const char *function, int code)
{
    if (code < 0)
        unreadableWebm(QStringLiteral("FFmpeg %1：%2").arg(QLatin1String(function), ffmpegReason(code)));
}

// The file for libavformat to read, from memory.
struct MemorySource {
    const QByteArray &bytes;
    qint64 position = 0;

    static int read(void *opaque, std::uint8_t *data, int size)
    {
        auto *source = static_cast<MemorySource *>(opaque);
        const qint64 count = std::min<qint64>(size, source->bytes.size() - source->position);
        if (count <= 0)
            return AVERROR_EOF;
        std::copy_n(source->bytes.constData() + source->position, count, data);
        source->position += count;
        return int(count);
    }
};

struct InputRelease {
    void operator()(AVFormatContext *format) const { ffmpegLibrary().avformat_close_input(&format); }
};

std::uint8_t clampedByte(long value)
{
    return std::uint8_t(std::clamp(value, 0L, 255L));
}

// A decoded picture in straight RGBA: BT.601 in studio range, as the WEBM
// writer tags its streams; a picture without an alpha plane is opaque.
QImage rgbaOf(const AVFrame &frame)
{
    const bool withAlpha = frame.format == AV_PIX_FMT_YUVA420P;
    if (!withAlpha && frame.format != AV_PIX_FMT_YUV420P)
        unreadableWebm(QStringLiteral("不支持的像素格式 %1").arg(frame.format));
    QImage image(frame.width, frame.height, QImage::Format_RGBA8888);
    if (image.isNull())
        unreadableWebm(QStringLiteral("画面 %1 × %2 太大").arg(frame.width).arg(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        const std::uint8_t *luma = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
        const std::uint8_t *cb = frame.data[1] + std::ptrdiff_t(y / 2) * frame.linesize[1];
        const std::uint8_t *cr = frame.data[2] + std::ptrdiff_t(y / 2) * frame.linesize[2];
        const std::uint8_t *alpha =
            withAlpha ? frame.data[3] + std::ptrdiff_t(y) * frame.linesize[3] : nullptr;
        uchar *pixel = image.scanLine(y);
        for (int x = 0; x < frame.width; ++x, pixel += 4) {
            // The inverse of the writer's matrix, in 16.16 fixed point.
            const long c = 76309L * (luma[x] - 16);
            const long d = cb[x / 2] - 128, e = cr[x / 2] - 128;
            pixel[0] = clampedByte((c + 104597L * e + 32768) >> 16);
            pixel[1] = clampedByte((c - 25675L * d - 53279L * e + 32768) >> 16);
            pixel[2] = clampedByte((c + 132201L * d + 32768) >> 16);
            pixel[3] = alpha ? alpha[x] : 255;
        }
    }
    return image;
}

// Decodes with libvpx, the decoder that reads the alpha stream from the
// block additions; FFmpeg's own VP9 decoder would show every pixel opaque.
class WebmDecoder {
public:
    explicit WebmDecoder(const QByteArray &bytes) : m_source{bytes}
    {
        const AVCodec *vp9 = ffmpegLibrary().avcodec_find_decoder_by_name("libvpx-vp9");
        if (!vp9)
            unreadableWebm(QStringLiteral("FFmpeg 没有 libvpx-vp9 解码器"));
        constexpr int kIoBufferBytes = 64 * 1024;
        auto *buffer = static_cast<std::uint8_t *>(ffmpegLibrary().av_malloc(kIoBufferBytes));
        if (!buffer)
            checkFfmpeg("av_malloc", AVERROR(ENOMEM));
        m_io.reset(ffmpegLibrary().avio_alloc_context(
            buffer, kIoBufferBytes, 0, &m_source, &MemorySource::read, nullptr, &seekInMemory<MemorySource>));
        if (!m_io) {
            ffmpegLibrary().av_free(buffer);
            checkFfmpeg("avio_alloc_context", AVERROR(ENOMEM));
        }
        AVFormatContext *input = ffmpegLibrary().avformat_alloc_context();
        if (!input)
            checkFfmpeg("avformat_alloc_context", AVERROR(ENOMEM));
        input->pb = m_io.get();
        input->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Frees `input` itself when it fails.
        checkFfmpeg("avformat_open_input",
                    ffmpegLibrary().avformat_open_input(
                        &input, nullptr, ffmpegLibrary().av_find_input_format("matroska"), nullptr));
        m_input.reset(input);

        for (unsigned i = 0; i < m_input->nb_streams && !m_stream; ++i) {
            if (m_input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                m_stream = m_input->streams[i];
        }
        if (!m_stream)
            unreadableWebm(QStringLiteral("没有视频"));
        if (m_stream->codecpar->codec_id != AV_CODEC_ID_VP9)
            unreadableWebm(QStringLiteral("视频不是 VP9"));
        m_codec.reset(ffmpegLibrary().avcodec_alloc_context3(vp9));
        if (!m_codec)
            checkFfmpeg("avcodec_alloc_context3", AVERROR(ENOMEM));
        checkFfmpeg("avcodec_parameters_to_context",
                    ffmpegLibrary().avcodec_parameters_to_context(m_codec.get(), m_stream->codecpar));
        m_codec->thread_count = 1;
        checkFfmpeg("avcodec_open2", ffmpegLibrary().avcodec_open2(m_codec.get(), vp9, nullptr));
        m_packet.reset(ffmpegLibrary().av_packet_alloc());
        m_frame.reset(ffmpegLibrary().av_frame_alloc());
        if (!m_packet || !m_frame)
            checkFfmpeg("av_packet_alloc", AVERROR(ENOMEM));
    }

    Animation frames()
    {
        for (;;) {
            const int status = ffmpegLibrary().av_read_frame(m_input.get(), m_packet.get());
            if (status == AVERROR_EOF)
                break;
            checkFfmpeg("av_read_frame", status);
            if (m_packet->stream_index == m_stream->index) {
                const int sent = ffmpegLibrary().avcodec_send_packet(m_codec.get(), m_packet.get());
                ffmpegLibrary().av_packet_unref(m_packet.get());
                checkFfmpeg("avcodec_send_packet", sent);
                receive();
            } else {
                ffmpegLibrary().av_packet_unref(m_packet.get());
            }
        }
        checkFfmpeg("avcodec_send_packet", ffmpegLibrary().avcodec_send_packet(m_codec.get(), nullptr));
        receive();
        if (m_shown.empty())
            unreadableWebm(QStringLiteral("没有帧"));

        // Each frame shows until the next one starts; the last for its own
        // duration.
        Animation animation;
        for (std::size_t i = 0; i < m_shown.size(); ++i) {
            const std::int64_t end = i + 1 < m_shown.size() ? m_shown[i + 1].startMs : m_endMs;
            animation.frames.push_back(
                {std::move(m_shown[i].image), int(std::max<std::int64_t>(0, end - m_shown[i].startMs))});
        }
        return animation;
    }

private:
    struct ShownFrame {
        QImage image;
        std::int64_t startMs = 0;
    };

    void receive()
    {
        for (;;) {
            const int status = ffmpegLibrary().avcodec_receive_frame(m_codec.get(), m_frame.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return;
            checkFfmpeg("avcodec_receive_frame", status);
            const std::int64_t stamp = m_frame->best_effort_timestamp != AV_NOPTS_VALUE
                                           ? m_frame->best_effort_timestamp
                                           : m_frame->pts;
            // A frame without a time follows the one before.
            const std::int64_t start = stamp != AV_NOPTS_VALUE ? milliseconds(stamp) : m_endMs;
#if LIBAVUTIL_VERSION_MAJOR >= 58
            const std::int64_t duration = m_frame->duration;
#else
            const std::int64_t duration = m_frame->pkt_duration;
#endif
            if (!m_shown.empty() && QSize(m_frame->width, m_frame->height) != m_shown.front().image.size())
                unreadableWebm(QStringLiteral("第 %1 帧的大小与第一帧不同").arg(m_shown.size() + 1));
            QImage image = rgbaOf(*m_frame).convertToFormat(kShown);
            // A video holds a picture by repeating it; repeats share one
            // image, so a held strip costs its memory once.
            if (!m_shown.empty() && m_shown.back().image == image)
                image = m_shown.back().image;
            m_shown.push_back({std::move(image), start});
            m_endMs = std::max(start, start + milliseconds(duration));
        }
    }

    std::int64_t milliseconds(std::int64_t stamp) const
    {
        const AVRational base = m_stream->time_base;
        return stamp * 1000 * base.num / base.den;
    }

    MemorySource m_source;
    // Declared before the contexts that read from it, so freed after.
    FfmpegIoPtr m_io;
    std::unique_ptr<AVFormatContext, InputRelease> m_input;
    FfmpegCodecPtr m_codec;
    FfmpegPacketPtr m_packet;
    FfmpegFramePtr m_frame;
    AVStream *m_stream = nullptr; // owned by m_input
    std::vector<ShownFrame> m_shown;
    std::int64_t m_endMs = 0;
};

} // namespace

Animation decodeAnimation(const QByteArray &bytes, const OutputFileFormat &format)
{
    return format.decode(bytes, format);
}

Animation decodeWithQt(const QByteArray &bytes, const OutputFileFormat &format)
{
    return qtFrames(bytes, format);
}

Animation decodeApng(const QByteArray &bytes, const OutputFileFormat &)
{
    return apngFrames(bytes);
}

Animation decodeWebp(const QByteArray &bytes, const OutputFileFormat &)
{
    return webpFrames(bytes);
}

Animation decodeWebm(const QByteArray &bytes, const OutputFileFormat &)
{
    return WebmDecoder(bytes).frames();
}
