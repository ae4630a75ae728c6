#include "export/gif_lzw.h"

#include <algorithm>
#include <cassert>

namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;
constexpr std::size_t kMaxSubBlock = 255;

enum class ClearPolicy {
    WhenFull, // clear as soon as the table holds 4096 codes, as giflib does
    KeepFull, // go on with the full table: its strings may still match well
};

enum class Choice {
    Shown,    // every pixel as the frame shows it
    Matching, // a pixel with a choice extends the current string if either entry can
};

// Codes packed least significant bit first, as GIF wants them.
class CodeWriter {
public:
    void put(int code, int bits)
    {
        m_pending |= std::uint32_t(code) << m_pendingBits;
        m_pendingBits += bits;
        while (m_pendingBits >= 8) {
            m_bytes.push_back(std::uint8_t(m_pending & 0xff));
            m_pending >>= 8;
            m_pendingBits -= 8;
        }
    }

    std::vector<std::uint8_t> finish()
    {
        if (m_pendingBits > 0)
            m_bytes.push_back(std::uint8_t(m_pending & 0xff));
        m_pending = 0;
        m_pendingBits = 0;
        return std::move(m_bytes);
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_pending = 0;
    int m_pendingBits = 0;
};

class LzwCoder {
public:
    explicit LzwCoder(int minimumCodeSize)
        : m_minimumCodeSize(minimumCodeSize), m_clear(1 << minimumCodeSize), m_end(m_clear + 1),
          m_children(std::size_t(kTableSize) << minimumCodeSize, 0)
    {}

    std::vector<std::uint8_t> code(std::span<const LzwPixel> pixels, ClearPolicy policy, Choice choice)
    {
        m_out = CodeWriter();
        restart();
        emit(m_clear);
        if (pixels.empty()) {
            emit(m_end);
            return m_out.finish();
        }
        int previous = pixels[0].shown;
        int prefix = previous;
        for (std::size_t i = 1; i < pixels.size(); ++i) {
            const LzwPixel pixel = pixels[i];
            int symbol = pixel.shown;
            int extended = child(prefix, symbol);
            if (choice == Choice::Matching && pixel.alternative != pixel.shown) {
                if (extended == 0 && child(prefix, pixel.alternative) != 0) {
                    symbol = pixel.alternative;
                    extended = child(prefix, symbol);
                } else if (extended == 0 && pixel.alternative == previous) {
                    // Neither continues the string: the pair's entry that
                    // repeats the pixel before makes the longer runs.
                    symbol = pixel.alternative;
                }
            }
            previous = symbol;
            if (extended != 0) {
                prefix = extended;
                continue;
            }
            emit(prefix);
            if (policy == ClearPolicy::WhenFull && m_next >= kTableSize - 1) {
                emit(m_clear);
                restart();
            } else if (m_next < kTableSize) {
                child(prefix, symbol) = std::uint16_t(m_next++);
            }
            prefix = symbol;
        }
        emit(prefix);
        emit(m_end);
        return m_out.finish();
    }

private:
    std::uint16_t &child(int prefix, int symbol)
    {
        return m_children[(std::size_t(prefix) << m_minimumCodeSize) + std::size_t(symbol)];
    }

    // An empty table, as the decoder starts one after a clear code.
    void restart()
    {
        std::fill(m_children.begin(), m_children.end(), 0);
        m_next = m_end + 1;
        m_bits = m_minimumCodeSize + 1;
    }

    // Writes `code`; the decoder, one table entry behind the coder, widens
    // its codes once the entry it is about to add reaches 2^bits.
    void emit(int code)
    {
        m_out.put(code, m_bits);
        if (m_next >= (1 << m_bits) && m_bits < kMaxCodeBits)
            ++m_bits;
    }

    int m_minimumCodeSize;
    int m_clear;
    int m_end;
    int m_next = 0; // the code the next table entry gets
    int m_bits = 0; // the width of the next code written
    // The table as a tree: the code of prefix + symbol, or 0 (no code
    // follows a clear, so 0 never names an entry).
    std::vector<std::uint16_t> m_children;
    CodeWriter m_out;
};

} // namespace

int lzwMinimumCodeSize(std::span<const LzwPixel> pixels)
{
    int largest = 0;
    for (const LzwPixel &pixel : pixels)
        largest = std::max({largest, int(pixel.shown), int(pixel.alternative)});
    int bits = 2; // GIF's smallest
    while ((1 << bits) <= largest)
        ++bits;
    return bits;
}

std::vector<std::uint8_t> lzwImageData(std::span<const LzwPixel> pixels, int minimumCodeSize)
{
    assert(minimumCodeSize >= 2 && minimumCodeSize <= 8 && lzwMinimumCodeSize(pixels) <= minimumCodeSize);
    LzwCoder coder(minimumCodeSize);
    std::vector<std::uint8_t> codes;
    for (ClearPolicy policy : {ClearPolicy::WhenFull, ClearPolicy::KeepFull}) {
        for (Choice choice : {Choice::Shown, Choice::Matching}) {
            std::vector<std::uint8_t> made = coder.code(pixels, policy, choice);
            if (codes.empty() || made.size() < codes.size())
                codes = std::move(made);
        }
    }

    std::vector<std::uint8_t> data;
    data.reserve(codes.size() + codes.size() / kMaxSubBlock + 3);
    data.push_back(std::uint8_t(minimumCodeSize));
    for (std::size_t at = 0; at < codes.size(); at += kMaxSubBlock) {
        const std::size_t length = std::min(kMaxSubBlock, codes.size() - at);
        data.push_back(std::uint8_t(length));
        data.insert(data.end(), codes.begin() + std::ptrdiff_t(at),
                    codes.begin() + std::ptrdiff_t(at + length));
    }
    data.push_back(0);
    return data;
}
