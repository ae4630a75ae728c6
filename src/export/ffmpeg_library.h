#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

// FFmpeg's functions, loaded from its libraries the first time a WEBM is
// made. The libraries and the dozens they pull in (every codec FFmpeg was
// built with) more than doubled the start-up of every run, and of every
// batch line run alone, for a format few runs ask for.
struct FfmpegLibrary {
#define QUILLOW_FFMPEG_FUNCTION(name) decltype(&::name) name = nullptr;
#include "export/ffmpeg_functions.inc"
#undef QUILLOW_FFMPEG_FUNCTION
};

// The loaded functions, the same object for the process's life. Throws
// QuillowError naming the library when one cannot be loaded or lacks a
// function; the next call tries again.
const FfmpegLibrary &ffmpegLibrary();
