#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <QString>

#include <memory>

// FFmpeg's functions, loaded from its libraries the first time a WEBM is
// made or read. The libraries and the dozens they pull in (every codec FFmpeg was
// built with) more than doubled the start-up of every run, and of every
// batch line run alone, for a format few runs ask for.
struct FfmpegLibrary {
#define QUILLOW_FFMPEG_FUNCTION(name) decltype(&::name) name = nullptr;
#include "export/ffmpeg_functions.inc"
#undef QUILLOW_FFMPEG_FUNCTION
};

// The loaded functions, the same object for the process's life. Throws
// QuillowError naming the library when one cannot be loaded or lacks a
// function, std::bad_alloc when there is no room to map one; the next call
// tries again.
const FfmpegLibrary &ffmpegLibrary();

// Whether the failure `code` (a negative AVERROR) of the last FFmpeg call
// on this thread came from a failed allocation: ENOMEM, or a codec library
// saying so while FFmpeg gives another code. Forgets what was said.
bool ffmpegRanOutOfMemory(int code);

// FFmpeg's own words for the error `code` (a negative AVERROR).
QString ffmpegReason(int code);

// Where a seek in a file of `size` bytes held in memory, now at `position`,
// goes, as libavformat's seek callback answers: the size for AVSEEK_SIZE,
// otherwise the new position, or AVERROR(EINVAL) for a position before the
// start or an unknown `whence`. Positions past the end are allowed.
std::int64_t memorySeek(std::int64_t position, std::int64_t size, std::int64_t offset, int whence);

// libavformat's seek callback for a file in memory: `opaque` is a `Memory`
// with the file's `bytes` (a QByteArray) and the `position` to move.
template <class Memory> std::int64_t seekInMemory(void *opaque, std::int64_t offset, int whence)
{
    auto *memory = static_cast<Memory *>(opaque);
    const std::int64_t position = memorySeek(memory->position, memory->bytes.size(), offset, whence);
    if (position >= 0 && (whence & AVSEEK_SIZE) == 0)
        memory->position = position;
    return position;
}

// Owners of FFmpeg's objects, which release them through the loaded library.
struct FfmpegFrameRelease {
    void operator()(AVFrame *frame) const { ffmpegLibrary().av_frame_free(&frame); }
};
struct FfmpegPacketRelease {
    void operator()(AVPacket *packet) const { ffmpegLibrary().av_packet_free(&packet); }
};
struct FfmpegCodecRelease {
    void operator()(AVCodecContext *codec) const { ffmpegLibrary().avcodec_free_context(&codec); }
};
// An I/O context of our own callbacks, with the buffer it was given.
struct FfmpegIoRelease {
    void operator()(AVIOContext *io) const
    {
        ffmpegLibrary().av_freep(&io->buffer);
        ffmpegLibrary().avio_context_free(&io);
    }
};
using FfmpegFramePtr = std::unique_ptr<AVFrame, FfmpegFrameRelease>;
using FfmpegPacketPtr = std::unique_ptr<AVPacket, FfmpegPacketRelease>;
using FfmpegCodecPtr = std::unique_ptr<AVCodecContext, FfmpegCodecRelease>;
using FfmpegIoPtr = std::unique_ptr<AVIOContext, FfmpegIoRelease>;
