#include "export/gif_lzw.h"

#include <QtTest>

#include <gif_lib.h>

#include <cstring>

Q_DECLARE_METATYPE(std::vector<LzwPixel>)

namespace {

constexpr int kSide = 256;

// A fixed pseudo-random sequence, so that every run tests the same pixels.
class Noise {
public:
    int next(int below)
    {
        m_state = m_state * 1103515245u + 12345u;
        return int((m_state >> 16) % unsigned(below));
    }

private:
    std::uint32_t m_state = 1;
};

std::vector<LzwPixel> noise(int count, int colours, bool choices)
{
    Noise random;
    std::vector<LzwPixel> pixels;
    for (int i = 0; i < count; ++i) {
        const auto shown = std::uint8_t(random.next(colours));
        const auto alternative = choices && random.next(3) == 0 ? std::uint8_t(random.next(colours)) : shown;
        pixels.push_back({shown, alternative});
    }
    return pixels;
}

std::vector<LzwPixel> runs(int count, int runLength, int colours)
{
    std::vector<LzwPixel> pixels;
    for (int i = 0; i < count; ++i) {
        const auto colour = std::uint8_t((i / runLength) % colours);
        pixels.push_back({colour, colour});
    }
    return pixels;
}

struct Reader {
    QByteArray bytes;
    qsizetype position = 0;
};

int readFromMemory(GifFileType *gif, GifByteType *into, int size)
{
    auto *reader = static_cast<Reader *>(gif->UserData);
    const int count = int(std::min<qsizetype>(size, reader->bytes.size() - reader->position));
    std::memcpy(into, reader->bytes.constData() + reader->position, std::size_t(count));
    reader->position += count;
    return count;
}

int appendToArray(GifFileType *gif, const GifByteType *data, int size)
{
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(data), size);
    return size;
}

// A GIF of one `width` x `height` frame, image data as given, 256 grey
// entries.
QByteArray gifAround(const std::vector<std::uint8_t> &imageData, int width, int height)
{
    QByteArray gif("GIF89a");
    const auto word = [&gif](int value) {
        gif.append(char(value & 0xff));
        gif.append(char(value >> 8));
    };
    word(width);
    word(height);
    gif.append(char(0xf7)); // a global table of 256 entries
    gif.append(2, '\0');
    for (int i = 0; i < 256; ++i)
        gif.append(3, char(i));
    gif.append(char(0x2c));
    word(0);
    word(0);
    word(width);
    word(height);
    gif.append('\0');
    gif.append(reinterpret_cast<const char *>(imageData.data()), qsizetype(imageData.size()));
    gif.append(char(0x3b));
    return gif;
}

// giflib's decoder's reading of the frame's indices; empty when it fails.
std::vector<std::uint8_t> decodeWithGiflib(const QByteArray &gif)
{
    Reader reader{gif, 0};
    int error = 0;
    GifFileType *file = DGifOpen(&reader, readFromMemory, &error);
    if (!file)
        return {};
    std::vector<std::uint8_t> indices;
    if (DGifSlurp(file) == GIF_OK && file->ImageCount == 1) {
        const SavedImage &image = file->SavedImages[0];
        indices.assign(image.RasterBits, image.RasterBits + std::size_t(image.ImageDesc.Width) *
                                                                std::size_t(image.ImageDesc.Height));
    }
    DGifCloseFile(file, &error);
    return indices;
}

// The image data giflib's own coder writes for the same pixels, taken from a
// whole file it writes.
qsizetype giflibImageDataSize(const std::vector<LzwPixel> &pixels, int width, int height)
{
    QByteArray bytes;
    int error = 0;
    GifFileType *gif = EGifOpen(&bytes, appendToArray, &error);
    std::vector<GifColorType> colours(256);
    ColorMapObject *map = GifMakeMapObject(256, colours.data());
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    const qsizetype start = bytes.size();
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    std::vector<GifPixelType> line;
    for (const LzwPixel &pixel : pixels)
        line.push_back(pixel.shown);
    for (int y = 0; y < height; ++y)
        EGifPutLine(gif, line.data() + std::ptrdiff_t(y) * width, width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes.size() - start - 10 - 1; // the descriptor and the trailer
}

} // namespace

class TestGifLzw : public QObject {
    Q_OBJECT
private slots:
    void giflibDecodesWhatWasGiven_data();
    void giflibDecodesWhatWasGiven();
};

void TestGifLzw::giflibDecodesWhatWasGiven_data()
{
    QTest::addColumn<std::vector<LzwPixel>>("pixels");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("minimumCodeSize");

    QTest::newRow("one pixel") << std::vector<LzwPixel>{{1, 1}} << 1 << 2;
    QTest::newRow("two colours in runs: codes widen from 3 bits") << runs(kSide * 40, 7, 2) << kSide << 2;
    QTest::newRow("one colour: strings thousands long")
        << runs(kSide * kSide, kSide * kSide, 1) << kSide << 2;
    QTest::newRow("four colours of noise fill the table") << noise(kSide * kSide, 4, false) << kSide << 2;
    QTest::newRow("256 colours of noise fill it again and again")
        << noise(kSide * kSide, 256, false) << kSide << 8;
    QTest::newRow("20 colours with choices") << noise(kSide * 100, 20, true) << kSide << 5;
    QTest::newRow("two colours alternating") << runs(300, 1, 2) << 300 << 2;
}

void TestGifLzw::giflibDecodesWhatWasGiven()
{
    QFETCH(std::vector<LzwPixel>, pixels);
    QFETCH(int, width);
    QFETCH(int, minimumCodeSize);
    const int height = int(pixels.size()) / width;
    QCOMPARE(lzwMinimumCodeSize(pixels), minimumCodeSize);

    const std::vector<std::uint8_t> data = lzwImageData(pixels, minimumCodeSize);
    QCOMPARE(int(data.front()), minimumCodeSize);
    QCOMPARE(int(data.back()), 0);
    const std::vector<std::uint8_t> decoded = decodeWithGiflib(gifAround(data, width, height));
    QCOMPARE(decoded.size(), pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (decoded[i] != pixels[i].shown && decoded[i] != pixels[i].alternative)
            QFAIL(qPrintable(QStringLiteral("pixel %1: %2, expected %3 or %4")
                                 .arg(i)
                                 .arg(decoded[i])
                                 .arg(pixels[i].shown)
                                 .arg(pixels[i].alternative)));
    }
    // Never larger than giflib's coding of the pixels as shown.
    QVERIFY2(qsizetype(data.size()) <= giflibImageDataSize(pixels, width, height),
             qPrintable(
                 QStringLiteral("%1 > %2").arg(data.size()).arg(giflibImageDataSize(pixels, width, height))));
}

QTEST_GUILESS_MAIN(TestGifLzw)
#include "tst_gif_lzw.moc"
