#include "export/webm_writer.h"

#include "composition/image_memory.h"
#include "export/export_errors.h"
#include "export/ffmpeg_library.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <numeric>

namespace {

constexpr int kMaxFrameRate = 120;
// VP9 codes at most 65536 pixels a side; libvpx refuses more than 16384.
constexpr int kMaxSide = 16384;
constexpr int kIoBufferBytes = 64 * 1024;

QuillowError ffmpegError(const char *function, int code)
{
    return encoderFailedError(
        QStringLiteral("WEBM"),
        QStringLiteral("FFmpeg %1：%2").arg(QLatin1String(function), ffmpegReason(code)));
}

// What libvpx takes beyond the frames for a sticker-sized video: its
// look-ahead queue and reference frames, tens of megabytes.
constexpr std::size_t kCodecHeadroomBytes = std::size_t(64) << 20;

void check(const char *function, int code)
{
    // The frames and settings are checked before they reach the encoder, so
    // a failure with little memory left is the lack of it, however FFmpeg
    // words it: libvpx's failed allocations come back as "invalid data".
    if (code < 0 && (ffmpegRanOutOfMemory(code) || !memoryAvailable(kCodecHeadroomBytes)))
        throw std::bad_alloc();
    if (code < 0)
        throw ffmpegError(function, code);
}

// --- Timing --------------------------------------------------------------------

struct Timing {
    std::vector<int> delaysMs; // after shortening
    QStringList warnings;
};

// The delays made to fit `maxMs`: the last frame's hold first, down to the
// longest other delay (the whole strip should not flash by faster than the
// steps that build it), then every delay in proportion.
Timing fittedTiming(const Animation &animation, int maxMs)
{
    Timing timing;
    for (const AnimationFrame &frame : animation.frames)
        timing.delaysMs.push_back(frame.delayMs);
    const long long total = std::accumulate(timing.delaysMs.begin(), timing.delaysMs.end(), 0LL);
    if (total <= maxMs)
        return timing;

    const int hold = timing.delaysMs.back();
    const long long others = total - hold;
    const int longestOther = timing.delaysMs.size() > 1
                                 ? *std::max_element(timing.delaysMs.begin(), timing.delaysMs.end() - 1)
                                 : 0;
    const int shortestHold = std::min(hold, longestOther);
    const auto seconds = QString::number(maxMs / 1000.0);
    if (others + shortestHold <= maxMs) {
        timing.delaysMs.back() = int(maxMs - others);
        timing.warnings << QStringLiteral("WEBM 视频最长 %1 秒：整条字停留的时间从 %2 毫秒缩短为 %3 毫秒")
                               .arg(seconds)
                               .arg(hold)
                               .arg(timing.delaysMs.back());
        return timing;
    }
    timing.delaysMs.back() = shortestHold;
    const double factor = double(maxMs) / double(others + shortestHold);
    // Floors keep the sum within the limit.
    for (int &delay : timing.delaysMs)
        delay = int(std::floor(delay * factor));
    timing.warnings << QStringLiteral("WEBM 视频最长 %1 秒：整条字停留的时间从 %2 毫秒缩短为 %3 毫秒，"
                                      "每一帧的时间也缩短为原来的 %4%")
                           .arg(seconds)
                           .arg(hold)
                           .arg(timing.delaysMs.back())
                           .arg(int(std::floor(factor * 100)));
    return timing;
}

// For each video frame, the index of the animation frame it shows: the one
// on screen at the video frame's start, and the last frame last.
std::vector<std::size_t> resampled(const std::vector<int> &delaysMs, int frameRate, int maxMs)
{
    const long long total = std::accumulate(delaysMs.begin(), delaysMs.end(), 0LL);
    const long long maxFrames = std::max(1LL, (long long)(maxMs)*frameRate / 1000);
    const long long count = std::clamp((total * frameRate + 500) / 1000, 1LL, maxFrames);
    std::vector<std::size_t> shown;
    std::size_t source = 0;
    long long sourceEndMs = delaysMs.front();
    for (long long k = 0; k < count; ++k) {
        // Exact in integers: the frame starts at k * 1000 / frameRate ms.
        while (source + 1 < delaysMs.size() && sourceEndMs * frameRate <= k * 1000) {
            ++source;
            sourceEndMs += delaysMs[source];
        }
        shown.push_back(source);
    }
    shown.back() = delaysMs.size() - 1;
    return shown;
}

// --- Pixels --------------------------------------------------------------------

std::uint8_t clampByte(double value)
{
    return std::uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

// BT.601 in studio range, as the stream is tagged. The chroma of each 2 x 2
// block is the alpha-weighted mean of its pixels, so that the black under
// transparent pixels does not darken the colour at a glyph's edge; a wholly
// transparent block takes neutral grey.
void fillYuva(AVFrame *frame, const QImage &straight)
{
    const int width = straight.width(), height = straight.height();
    for (int y = 0; y < height; ++y) {
        const uchar *pixel = straight.constScanLine(y);
        std::uint8_t *luma = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
        std::uint8_t *alpha = frame->data[3] + std::ptrdiff_t(y) * frame->linesize[3];
        for (int x = 0; x < width; ++x, pixel += 4) {
            luma[x] = clampByte(16 + (65.481 * pixel[0] + 128.553 * pixel[1] + 24.966 * pixel[2]) / 255);
            alpha[x] = pixel[3];
        }
    }
    for (int cy = 0; cy < (height + 1) / 2; ++cy) {
        std::uint8_t *cb = frame->data[1] + std::ptrdiff_t(cy) * frame->linesize[1];
        std::uint8_t *cr = frame->data[2] + std::ptrdiff_t(cy) * frame->linesize[2];
        for (int cx = 0; cx < (width + 1) / 2; ++cx) {
            double r = 0, g = 0, b = 0, weight = 0;
            for (int y = 2 * cy; y < std::min(2 * cy + 2, height); ++y) {
                for (int x = 2 * cx; x < std::min(2 * cx + 2, width); ++x) {
                    const uchar *pixel = straight.constScanLine(y) + 4 * x;
                    r += pixel[0] * pixel[3];
                    g += pixel[1] * pixel[3];
                    b += pixel[2] * pixel[3];
                    weight += pixel[3];
                }
            }
            if (weight == 0) {
                cb[cx] = cr[cx] = 128;
                continue;
            }
            r /= weight, g /= weight, b /= weight;
            cb[cx] = clampByte(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255);
            cr[cx] = clampByte(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255);
        }
    }
}

// --- Output into memory ----------------------------------------------------------

// The file as libavformat writes it, with seeking, so that the muxer can
// go back and fill in the duration and the cues.
struct MemoryFile {
    QByteArray bytes;
    qint64 position = 0;

    static int write(void *opaque, std::uint8_t *data, int size)
    {
        auto *file = static_cast<MemoryFile *>(opaque);
        const qint64 end = file->position + size;
        if (end > file->bytes.size())
            file->bytes.resize(end);
        std::copy(data, data + size, file->bytes.data() + file->position);
        file->position = end;
        return size;
    }
};

struct FormatRelease {
    void operator()(AVFormatContext *format) const { ffmpegLibrary().avformat_free_context(format); }
};

class WebmMuxer {
public:
    WebmMuxer(QSize size, const WebmOptions &options) : m_frameRate(options.frameRate)
    {
        const AVCodec *vp9 = ffmpegLibrary().avcodec_find_encoder_by_name("libvpx-vp9");
        if (!vp9)
            throw encoderFailedError(QStringLiteral("WEBM"), QStringLiteral("FFmpeg 没有 libvpx-vp9 编码器"));

        AVFormatContext *format = nullptr;
        check("avformat_alloc_output_context2",
              ffmpegLibrary().avformat_alloc_output_context2(&format, nullptr, "webm", nullptr));
        m_format.reset(format);
        // No random segment id, no library version: the same frames give
        // the same bytes.
        m_format->flags |= AVFMT_FLAG_BITEXACT;

        m_codec.reset(ffmpegLibrary().avcodec_alloc_context3(vp9));
        if (!m_codec)
            throw std::bad_alloc();
        m_codec->width = size.width();
        m_codec->height = size.height();
        m_codec->pix_fmt = AV_PIX_FMT_YUVA420P;
        m_codec->time_base = {1, m_frameRate};
        m_codec->framerate = {m_frameRate, 1};
        m_codec->color_range = AVCOL_RANGE_MPEG;
        m_codec->colorspace = AVCOL_SPC_SMPTE170M;
        m_codec->color_primaries = AVCOL_PRI_SMPTE170M;
        m_codec->color_trc = AVCOL_TRC_SMPTE170M;
        // One thread: libvpx's multi-threaded coding may split the picture
        // differently on another machine, and the bytes must not depend on it.
        m_codec->thread_count = 1;
        m_codec->flags |= AV_CODEC_FLAG_BITEXACT;
        if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
            m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // Constant quality: with no bitrate, libvpx codes every frame at `crf`.
        m_codec->bit_rate = 0;
        check("av_opt_set_int crf",
              ffmpegLibrary().av_opt_set_int(m_codec->priv_data, "crf", options.crf, 0));
        check("av_opt_set_int row-mt", ffmpegLibrary().av_opt_set_int(m_codec->priv_data, "row-mt", 0, 0));
        check("avcodec_open2", ffmpegLibrary().avcodec_open2(m_codec.get(), vp9, nullptr));

        AVStream *stream = ffmpegLibrary().avformat_new_stream(m_format.get(), nullptr);
        if (!stream)
            throw std::bad_alloc();
        stream->time_base = m_codec->time_base;
        // Recorded as the track's default duration: players and checkers
        // read the rate from it instead of guessing from millisecond stamps.
        stream->avg_frame_rate = m_codec->framerate;
        check("avcodec_parameters_from_context",
              ffmpegLibrary().avcodec_parameters_from_context(stream->codecpar, m_codec.get()));
        m_stream = stream;

        auto *buffer = static_cast<std::uint8_t *>(ffmpegLibrary().av_malloc(kIoBufferBytes));
        if (!buffer)
            throw std::bad_alloc();
        m_io.reset(ffmpegLibrary().avio_alloc_context(buffer, kIoBufferBytes, 1, &m_file, nullptr,
                                                      &MemoryFile::write, &seekInMemory<MemoryFile>));
        if (!m_io) {
            ffmpegLibrary().av_free(buffer);
            throw std::bad_alloc();
        }
        m_format->pb = m_io.get();
        m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
        check("avformat_write_header", ffmpegLibrary().avformat_write_header(m_format.get(), nullptr));

        m_packet.reset(ffmpegLibrary().av_packet_alloc());
        if (!m_packet)
            throw std::bad_alloc();
    }

    // `frame` (null at the end) to the encoder, and whatever it has ready
    // into the file.
    void encode(AVFrame *frame)
    {
        check("avcodec_send_frame", ffmpegLibrary().avcodec_send_frame(m_codec.get(), frame));
        for (;;) {
            const int status = ffmpegLibrary().avcodec_receive_packet(m_codec.get(), m_packet.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return;
            check("avcodec_receive_packet", status);
            // Each frame lasts one frame time; the last one's end is the
            // video's duration.
            if (m_packet->duration <= 0)
                m_packet->duration = 1;
            ffmpegLibrary().av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
            m_packet->stream_index = m_stream->index;
            check("av_interleaved_write_frame",
                  ffmpegLibrary().av_interleaved_write_frame(m_format.get(), m_packet.get()));
        }
    }

    QByteArray finish()
    {
        encode(nullptr);
        check("av_write_trailer", ffmpegLibrary().av_write_trailer(m_format.get()));
        ffmpegLibrary().avio_flush(m_io.get());
        return m_file.bytes;
    }

    FfmpegFramePtr newFrame() const
    {
        FfmpegFramePtr frame(ffmpegLibrary().av_frame_alloc());
        if (!frame)
            throw std::bad_alloc();
        frame->format = m_codec->pix_fmt;
        frame->width = m_codec->width;
        frame->height = m_codec->height;
        check("av_frame_get_buffer", ffmpegLibrary().av_frame_get_buffer(frame.get(), 0));
        return frame;
    }

private:
    int m_frameRate;
    MemoryFile m_file;
    // Declared before the contexts that write into them, so freed after.
    FfmpegIoPtr m_io;
    std::unique_ptr<AVFormatContext, FormatRelease> m_format;
    FfmpegCodecPtr m_codec;
    FfmpegPacketPtr m_packet;
    AVStream *m_stream = nullptr; // owned by m_format
};

} // namespace

EncodedAnimation encodeWebm(const Animation &animation, const WebmOptions &options)
{
    checkAnimation(animation, std::numeric_limits<int>::max());
    if (options.frameRate < 1 || options.frameRate > kMaxFrameRate)
        throw QuillowError(
            QStringLiteral("帧率 %1 超出范围（应为 1 到 %2）。").arg(options.frameRate).arg(kMaxFrameRate));
    if (options.maxDurationMs < 1000 / options.frameRate)
        throw QuillowError(QStringLiteral("视频最长时间 %1 毫秒不够一帧。").arg(options.maxDurationMs));
    if (options.crf < 0 || options.crf > kMaxWebmCrf)
        throw QuillowError(QStringLiteral("WEBM 质量参数 crf %1 超出范围（应为 0 到 %2）。")
                               .arg(options.crf)
                               .arg(kMaxWebmCrf));
    const QSize size = animation.frames.front().image.size();
    if (size.width() > kMaxSide || size.height() > kMaxSide)
        throw pictureTooLargeError(size.width(), size.height());

    const Timing timing = fittedTiming(animation, options.maxDurationMs);
    const std::vector<std::size_t> shown =
        resampled(timing.delaysMs, options.frameRate, options.maxDurationMs);

    WebmMuxer muxer(size, options);
    FfmpegFramePtr frame;
    std::size_t converted = std::numeric_limits<std::size_t>::max();
    for (std::size_t k = 0; k < shown.size(); ++k) {
        if (shown[k] != converted) {
            // The encoder may still hold the last picture it was given.
            frame = muxer.newFrame();
            // Converted here: Qt would split a large picture over its thread
            // pool and wait for threads a memory limit may never let start.
            fillYuva(frame.get(), convertedHere(animation.frames[shown[k]].image, QImage::Format_RGBA8888));
            converted = shown[k];
        }
        frame->pts = qint64(k);
        muxer.encode(frame.get());
    }
    return {muxer.finish(), int(shown.size()), -1, timing.warnings};
}
