#include "export/ffmpeg_library.h"

#include "composition/quillow_error.h"

#include <QString>

#include <dlfcn.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

namespace {

// The sonames of the libraries the headers describe, so that the functions
// loaded are the ones compiled against.
#define QUILLOW_STRINGIFY2(x) #x
#define QUILLOW_STRINGIFY(x) QUILLOW_STRINGIFY2(x)
constexpr const char *kLibraries[] = {
    "libavutil.so." QUILLOW_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libavcodec.so." QUILLOW_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." QUILLOW_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};

// Set on a thread when FFmpeg, or a codec library under it, said that an
// allocation failed; taken by ffmpegRanOutOfMemory().
thread_local bool outOfMemorySaid = false;

// FFmpeg's messages are not for the user, but one tells what an error code
// does not: libvpx's "Memory allocation error" reaches the caller only as
// "invalid data" or "invalid argument".
void noteOutOfMemory(void *, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_ERROR)
        return;
    char text[512];
    vsnprintf(text, sizeof text, format, arguments);
    if (strstr(text, "Memory allocation error") || strstr(text, strerror(ENOMEM)))
        outOfMemorySaid = true;
}

QuillowError loadError(const char *what)
{
    return QuillowError(QStringLiteral("无法载入 FFmpeg 的视频库，不能生成或读取 WEBM：%1")
                            .arg(QString::fromLocal8Bit(what)));
}

// Loads every library and resolves every function; throws on the first
// that fails. The handles stay open for the process's life: the functions
// are used until it ends.
FfmpegLibrary load()
{
    void *handles[std::size(kLibraries)] = {};
    for (std::size_t i = 0; i < std::size(kLibraries); ++i) {
        handles[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            const char *reason = dlerror();
            // The loader could not map a library (or one it pulls in): no
            // room in the address space, which is running out of memory.
            if (strstr(reason, "failed to map segment") || strstr(reason, strerror(ENOMEM)))
                throw std::bad_alloc();
            throw loadError(reason);
        }
    }
    FfmpegLibrary library;
    const auto resolve = [&handles](auto &function, const char *name) {
        for (void *handle : handles) {
            if (void *symbol = dlsym(handle, name)) {
                function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(symbol);
                return;
            }
        }
        throw loadError(name);
    };
#define QUILLOW_FFMPEG_FUNCTION(name) resolve(library.name, #name);
#include "export/ffmpeg_functions.inc"
#undef QUILLOW_FFMPEG_FUNCTION
    // FFmpeg's own notes (libvpx's version, each stream's settings, a
    // decoder's complaints) are not for the user; failures reach them as
    // exceptions.
    library.av_log_set_level(AV_LOG_QUIET);
    library.av_log_set_callback(noteOutOfMemory);
    return library;
}

} // namespace

const FfmpegLibrary &ffmpegLibrary()
{
    static std::mutex loading;
    static std::optional<FfmpegLibrary> loaded;
    const std::lock_guard lock(loading);
    if (!loaded)
        loaded = load();
    return *loaded;
}

bool ffmpegRanOutOfMemory(int code)
{
    const bool said = std::exchange(outOfMemorySaid, false);
    return code == AVERROR(ENOMEM) || said;
}

QString ffmpegReason(int code)
{
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    ffmpegLibrary().av_strerror(code, reason, sizeof reason);
    return QString::fromUtf8(reason);
}

std::int64_t memorySeek(std::int64_t position, std::int64_t size, std::int64_t offset, int whence)
{
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += position;
        break;
    case SEEK_END:
        offset += size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    return offset < 0 ? AVERROR(EINVAL) : offset;
}
