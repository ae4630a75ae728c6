#include "export/png_writer.h"
#include "export/raster.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

namespace {

struct Chunk {
    QByteArray type;
    QByteArray data;
    quint32 storedCrc = 0;
};

quint32 bigEndian32(const QByteArray &bytes, qsizetype at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

// Splits a PNG file into its chunks; fails the test on a malformed layout.
QList<Chunk> chunksOf(const QByteArray &file)
{
    QList<Chunk> chunks;
    if (!file.startsWith(QByteArray::fromHex("89504e470d0a1a0a")))
        return chunks;
    qsizetype at = 8;
    while (at + 12 <= file.size()) {
        const qsizetype length = qsizetype(bigEndian32(file, at));
        if (at + 12 + length > file.size())
            break;
        Chunk chunk;
        chunk.type = file.mid(at + 4, 4);
        chunk.data = file.mid(at + 8, length);
        chunk.storedCrc = bigEndian32(file, at + 8 + length);
        chunks.append(chunk);
        at += 12 + length;
    }
    return at == file.size() ? chunks : QList<Chunk>();
}

QByteArray pngOf(const IndexedPicture &picture)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writePng(picture, buffer);
    return buffer.data();
}

QByteArray inflated(const QByteArray &stream, qsizetype expectedSize)
{
    QByteArray out(expectedSize + 1, '\0'); // one spare byte shows excess data
    uLongf outSize = uLongf(out.size());
    if (uncompress(reinterpret_cast<Bytef *>(out.data()), &outSize,
                   reinterpret_cast<const Bytef *>(stream.constData()), uLong(stream.size())) != Z_OK)
        return {};
    out.resize(qsizetype(outSize));
    return out;
}

// Coloured Chinese text with anti-aliased edges on white, like a strip.
Raster textPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(size.height() * 3 / 4);
    painter.setFont(font);
    painter.setPen(QColor(200, 40, 90));
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("大声"));
    painter.setPen(QColor(30, 140, 220));
    painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("喊我"));
    painter.end();
    return rasterFromImage(image);
}

Raster uniformPicture(QSize size, QRgb colour)
{
    Raster picture;
    picture.width = size.width();
    picture.height = size.height();
    picture.pixels.assign(std::size_t(size.width() * size.height()), colour);
    return picture;
}

IndexedPicture noisePicture(int width, int height)
{
    QRandomGenerator random(20240611);
    IndexedPicture picture;
    picture.width = width;
    picture.height = height;
    picture.indices.resize(std::size_t(width * height));
    for (auto &index : picture.indices)
        index = std::uint8_t(random.bounded(256));
    return picture;
}

} // namespace

class TestPngWriter : public QObject {
    Q_OBJECT

private slots:
    void paletteEntries_data();
    void paletteEntries();
    void nearestColour_data();
    void nearestColour();
    void reductionMatchesFullSearch();
    void readsBackWithQImage_data();
    void readsBackWithQImage();
    void chunkLayout();
    void imageStream_data();
    void imageStream();
    void longStreamIsCutIntoFullIdatChunks();
    void refusesEmptyPicture_data();
    void refusesEmptyPicture();
};

void TestPngWriter::paletteEntries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("0 black") << 0 << QColor(0, 0, 0);
    QTest::newRow("7 silver") << 7 << QColor(192, 192, 192);
    QTest::newRow("9 sky blue") << 9 << QColor(166, 202, 240);
    QTest::newRow("10 first cube entry") << 10 << QColor(64, 32, 0);
    QTest::newRow("164 cube grey") << 164 << QColor(128, 128, 128);
    QTest::newRow("245 last cube entry") << 245 << QColor(160, 192, 192);
    QTest::newRow("246 cream") << 246 << QColor(255, 251, 240);
    QTest::newRow("249 red") << 249 << QColor(255, 0, 0);
    QTest::newRow("255 white") << 255 << QColor(255, 255, 255);
}

void TestPngWriter::paletteEntries()
{
    QFETCH(int, index);
    QFETCH(QColor, colour);
    QCOMPARE(QColor(HalftonePalette::colour(index)), colour);
}

void TestPngWriter::nearestColour_data()
{
    QTest::addColumn<QRgb>("pixel");
    QTest::addColumn<int>("index");
    QTest::newRow("pure white") << qRgb(255, 255, 255) << 255;
    QTest::newRow("white with zero alpha") << qRgba(255, 255, 255, 0) << 255;
    QTest::newRow("near white goes to white, not cream") << qRgb(250, 250, 250) << 255;
    QTest::newRow("black") << qRgb(0, 0, 0) << 0;
    QTest::newRow("exact cube entry") << qRgb(64, 32, 0) << 10;
    QTest::newRow("pure blue beyond the cube") << qRgb(0, 0, 255) << 252;
    // (80,32,0) is 16 away from both 10 (64,32,0) and 11 (96,32,0).
    QTest::newRow("tie between cube entries goes to the lower") << qRgb(80, 32, 0) << 10;
    // 164 and 248 are both exactly (128,128,128).
    QTest::newRow("duplicate colour takes the lower index") << qRgb(128, 128, 128) << 164;
}

void TestPngWriter::nearestColour()
{
    QFETCH(QRgb, pixel);
    QFETCH(int, index);
    QCOMPARE(int(HalftonePalette::nearestIndex(pixel)), index);

    Raster single = uniformPicture(QSize(2, 1), pixel);
    const IndexedPicture reduced = reduce(single);
    QCOMPARE(int(reduced.index(0, 0)), index);
    QCOMPARE(int(reduced.index(1, 0)), index);
}

// The reduction remembers colours it has matched; it must never answer
// differently from a full search, whatever order colours come in.
void TestPngWriter::reductionMatchesFullSearch()
{
    QRandomGenerator random(7);
    Raster picture;
    picture.width = 300;
    picture.height = 200;
    for (int i = 0; i < picture.width * picture.height; ++i) {
        // Half the pixels from a few colours in runs, half arbitrary.
        const QRgb pixel =
            (i / 3) % 2 ? qRgb(int(random.bounded(4)) * 80, 10, 200) : random.generate() | 0xFF000000;
        picture.pixels.push_back(pixel);
    }
    const IndexedPicture reduced = reduce(picture);
    QCOMPARE(reduced.width, 300);
    QCOMPARE(reduced.height, 200);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        if (reduced.indices[i] != HalftonePalette::nearestIndex(picture.pixels[i]))
            QFAIL(qPrintable(QStringLiteral("pixel %1 reduced wrongly").arg(i)));
    }
}

void TestPngWriter::readsBackWithQImage_data()
{
    QTest::addColumn<Raster>("picture");
    QTest::newRow("coloured text") << textPicture(QSize(161, 60));
    QTest::newRow("all white") << uniformPicture(QSize(945, 239), qRgb(255, 255, 255));
    QTest::newRow("1x1 black") << uniformPicture(QSize(1, 1), qRgb(0, 0, 0));
}

// libpng, behind QImage, decodes what we wrote: every pixel is its palette
// colour, opaque, except the white ones, which are fully transparent.
void TestPngWriter::readsBackWithQImage()
{
    QFETCH(Raster, picture);
    const IndexedPicture reduced = reduce(picture);
    const QImage image = QImage::fromData(pngOf(reduced), "PNG").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(picture.width, picture.height));

    int transparent = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb decoded = image.pixel(x, y);
            const QRgb original = picture.pixel(x, y) & 0xFFFFFF;
            if (qAlpha(decoded) == 0) {
                ++transparent;
                QCOMPARE(int(reduced.index(x, y)), 255);
                continue;
            }
            QCOMPARE(qAlpha(decoded), 255);
            QCOMPARE(decoded, HalftonePalette::colour(reduced.index(x, y)));
            QVERIFY(original != 0xFFFFFF);
        }
    }
    const bool allWhite = std::all_of(picture.pixels.begin(), picture.pixels.end(),
                                      [](QRgb p) { return (p & 0xFFFFFF) == 0xFFFFFF; });
    if (allWhite)
        QCOMPARE(transparent, picture.width * picture.height);
}

void TestPngWriter::chunkLayout()
{
    const QList<Chunk> chunks = chunksOf(pngOf(reduce(textPicture(QSize(70, 30)))));
    QVERIFY(chunks.size() >= 5);

    QList<QByteArray> types;
    for (const Chunk &chunk : chunks) {
        types.append(chunk.type);
        const QByteArray covered = chunk.type + chunk.data;
        QCOMPARE(chunk.storedCrc, quint32(crc32(0, reinterpret_cast<const Bytef *>(covered.constData()),
                                                uInt(covered.size()))));
    }
    QCOMPARE(types, (QList<QByteArray>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));

    // Width 70, height 30, depth 8, colour type 3, then three zeros.
    QCOMPARE(chunks[0].data.toHex(), QByteArray("00000046"
                                                "0000001e"
                                                "08"
                                                "03"
                                                "00"
                                                "00"
                                                "00"));

    QCOMPARE(chunks[1].data.size(), 768);
    QCOMPARE(chunks[1].data.left(3).toHex(), QByteArray("000000"));
    QCOMPARE(chunks[1].data.mid(3 * 9, 3).toHex(), QByteArray("a6caf0"));
    QCOMPARE(chunks[1].data.mid(3 * 255, 3).toHex(), QByteArray("ffffff"));

    QCOMPARE(chunks[2].data, QByteArray(255, '\xff') + QByteArray(1, '\0'));

    QVERIFY(chunks[4].data.isEmpty());
    // The CRC-32 of "IEND", from the PNG standard's sample files.
    QCOMPARE(chunks[4].storedCrc, quint32(0xAE426082));
}

void TestPngWriter::imageStream_data()
{
    QTest::addColumn<IndexedPicture>("picture");
    IndexedPicture ramp;
    ramp.width = 5;
    ramp.height = 2;
    ramp.indices = {3, 5, 4, 255, 0, 255, 255, 1, 1, 200};
    QTest::newRow("small ramp with wrap-around") << ramp;
    QTest::newRow("text") << reduce(textPicture(QSize(120, 40)));
}

// Inflates the IDAT data with zlib: a level-9 zlib header, and every row
// Sub-filtered so that undoing the filter gives back the indices.
void TestPngWriter::imageStream()
{
    QFETCH(IndexedPicture, picture);
    QByteArray stream;
    for (const Chunk &chunk : chunksOf(pngOf(picture))) {
        if (chunk.type == "IDAT")
            stream += chunk.data;
    }
    QVERIFY(stream.size() >= 2);
    QCOMPARE(quint8(stream[0]), quint8(0x78)); // deflate, 32 KB window
    QCOMPARE(quint8(stream[1]) >> 6, 3);       // FLEVEL 3: maximum compression

    const QByteArray rows = inflated(stream, qsizetype(picture.width + 1) * picture.height);
    QCOMPARE(rows.size(), qsizetype(picture.width + 1) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        const char *row = rows.constData() + qsizetype(y) * (picture.width + 1);
        QCOMPARE(int(row[0]), 1);
        quint8 left = 0;
        for (int x = 0; x < picture.width; ++x) {
            left = quint8(left + quint8(row[1 + x]));
            QCOMPARE(int(left), int(picture.index(x, y)));
        }
    }

    QCOMPARE(QByteArray(reinterpret_cast<const char *>(subFilteredScanlines(picture).data()), rows.size()),
             rows);
}

void TestPngWriter::longStreamIsCutIntoFullIdatChunks()
{
    // Noise hardly compresses: about 200 KB of stream, four chunks.
    const IndexedPicture picture = noisePicture(500, 400);
    QList<qsizetype> idatSizes;
    for (const Chunk &chunk : chunksOf(pngOf(picture))) {
        if (chunk.type == "IDAT")
            idatSizes.append(chunk.data.size());
    }
    QVERIFY(idatSizes.size() >= 3);
    for (qsizetype i = 0; i + 1 < idatSizes.size(); ++i)
        QCOMPARE(idatSizes[i], qsizetype(65535));
    QVERIFY(idatSizes.last() > 0);
    QVERIFY(idatSizes.last() < 65535);

    const QImage image = QImage::fromData(pngOf(picture), "PNG");
    QCOMPARE(image.size(), QSize(500, 400));
    QCOMPARE(image.pixelIndex(499, 399), int(picture.index(499, 399)));
}

void TestPngWriter::refusesEmptyPicture_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("zero width") << 0 << 147;
    QTest::newRow("zero height") << 945 << 0;
}

void TestPngWriter::refusesEmptyPicture()
{
    QFETCH(int, width);
    QFETCH(int, height);
    IndexedPicture picture;
    picture.width = width;
    picture.height = height;

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    try {
        writePng(picture, buffer);
        QFAIL("the picture was written");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("图片为空（宽度或高度为 0），无法保存。"));
    }
    QCOMPARE(buffer.size(), 0);
}

QTEST_MAIN(TestPngWriter)
#include "tst_png_writer.moc"
