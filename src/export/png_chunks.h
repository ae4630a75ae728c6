#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

class QIODevice;

// The building blocks of every PNG the program writes itself (ISO/IEC
// 15948, and the APNG extension's chunks on top of it).

// The most bytes of zlib stream one IDAT or fdAT chunk carries: every such
// chunk but the last of its stream holds exactly this many.
constexpr std::size_t kPngDataLimit = 65535;

// The PNG colour types the writers use.
enum class PngColourType : std::uint8_t { Indexed = 3, Rgba = 6 };

// Writes the eight-byte PNG signature. Throws QuillowError if the device
// does not take every byte.
void writePngSignature(QIODevice &device);

// Writes one chunk: its length, its four-letter `type`, the `size` bytes at
// `data` (at most kPngDataLimit + 4) and the CRC-32 of type and data.
// Throws QuillowError if the device does not take every byte.
void writePngChunk(QIODevice &device, std::string_view type, const std::uint8_t *data, std::size_t size);

// Writes IHDR for a `width` x `height` (both positive) picture of 8 bits per
// channel, deflate, adaptive filtering and no interlace.
void writePngHeader(QIODevice &device, std::int32_t width, std::int32_t height, PngColourType colourType);

// zlib's level 9 follows at most 4096 earlier matches for each string. On a
// strip's palette indices the last three quarters of that search win about
// 1 % of the size and cost 60 % of the time (10402 against 10507 bytes, 17
// against 7 ms, default strip); kQuickerMatchSearch stops at 1024.
constexpr int kFullMatchSearch = 4096;
constexpr int kQuickerMatchSearch = 1024;

// One zlib stream as PNG wants it (level 9, a 32 KB window, memory level 8,
// the default strategy, searching `matchSearch` earlier matches at most),
// handing its output to `emitPiece` in pieces of exactly kPngDataLimit bytes
// and a shorter last one. Every zlib call is checked: an unexpected status
// throws QuillowError with zlib's own text.
class PngDeflater {
public:
    using Emit = std::function<void(const std::uint8_t *data, std::size_t size)>;

    explicit PngDeflater(Emit emitPiece, int matchSearch = kFullMatchSearch);
    ~PngDeflater();
    PngDeflater(const PngDeflater &) = delete;
    PngDeflater &operator=(const PngDeflater &) = delete;

    void add(const std::uint8_t *data, std::size_t size);
    // Ends the stream and emits what remains; call once, last.
    void finish();

private:
    struct State;
    void emitIfFull();
    std::unique_ptr<State> m_state;
    Emit m_emit;
};
