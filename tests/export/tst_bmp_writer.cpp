#include "export/bmp_writer.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

namespace {

// Red, green and blue differ in every pixel, so a swapped channel or a
// flipped row shows in the bytes.
Raster threeByTwo(int depth)
{
    Raster picture;
    picture.width = 3;
    picture.height = 2;
    picture.depth = depth;
    picture.pixels = {
        qRgb(0x01, 0x02, 0x03), qRgb(0x04, 0x05, 0x06), qRgba(0x07, 0x08, 0x09, 0x7F),
        qRgb(0x0A, 0x0B, 0x0C), qRgb(0x0D, 0x0E, 0x0F), qRgb(0x10, 0x11, 0x12),
    };
    return picture;
}

QByteArray written(const Raster &picture)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeBmp(picture, buffer);
    return buffer.data();
}

} // namespace

class TestBmpWriter : public QObject {
    Q_OBJECT

private slots:
    void knownFile_data();
    void knownFile();
    void readsBackWithQImage_data();
    void readsBackWithQImage();
    void refusesPicture_data();
    void refusesPicture();
};

void TestBmpWriter::knownFile_data()
{
    QTest::addColumn<Raster>("picture");
    QTest::addColumn<QByteArray>("expected");

    // Written out by hand from the BITMAPFILEHEADER / BITMAPINFOHEADER layout.
    // Header: "BM", file size, 2 x reserved, data offset 54, info size 40,
    // width, height, planes 1, bpp, compression 0, image size, 4 x zero.
    // Rows bottom-up; the top-left pixel (01,02,03) starts the last row; the
    // fourth byte is 0 even where the pixel's alpha is not.
    QTest::newRow("3x2 at 32 bits: stride 12, image 24, file 78")
        << threeByTwo(32)
        << QByteArray::fromHex("424d 4e000000 0000 0000 36000000"
                               "28000000 03000000 02000000 0100 2000 00000000 18000000"
                               "00000000 00000000 00000000 00000000"
                               "0c0b0a00 0f0e0d00 12111000"
                               "03020100 06050400 09080700");
    QTest::newRow("3x2 at 24 bits: 9 pixel bytes padded to 12")
        << threeByTwo(24)
        << QByteArray::fromHex("424d 4e000000 0000 0000 36000000"
                               "28000000 03000000 02000000 0100 1800 00000000 18000000"
                               "00000000 00000000 00000000 00000000"
                               "0c0b0a 0f0e0d 121110 000000"
                               "030201 060504 090807 000000");

    Raster single;
    single.width = 1;
    single.height = 1;
    single.depth = 24;
    single.pixels = {qRgb(0xFF, 0x80, 0x00)};
    QTest::newRow("1x1 at 24 bits: 3 pixel bytes padded to 4, file 58")
        << single
        << QByteArray::fromHex("424d 3a000000 0000 0000 36000000"
                               "28000000 01000000 01000000 0100 1800 00000000 04000000"
                               "00000000 00000000 00000000 00000000"
                               "0080ff 00");
}

void TestBmpWriter::knownFile()
{
    QFETCH(Raster, picture);
    QFETCH(QByteArray, expected);
    QCOMPARE(written(picture).toHex(' '), expected.toHex(' '));
}

void TestBmpWriter::readsBackWithQImage_data()
{
    QTest::addColumn<int>("depth");
    QTest::newRow("32 bits") << 32;
    QTest::newRow("24 bits") << 24;
}

// Odd sizes exercise padding and row order through an independent decoder.
void TestBmpWriter::readsBackWithQImage()
{
    QFETCH(int, depth);
    Raster picture;
    picture.width = 7;
    picture.height = 5;
    picture.depth = depth;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x)
            picture.pixels.push_back(qRgb(x * 30, y * 50, 255 - x * y * 7));
    }

    const QImage image = QImage::fromData(written(picture), "BMP");
    QCOMPARE(image.size(), QSize(7, 5));
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x)
            QCOMPARE(image.pixel(x, y) & 0xFFFFFF, picture.pixel(x, y) & 0xFFFFFF);
    }
}

void TestBmpWriter::refusesPicture_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("message");

    const QString empty = QStringLiteral("图片为空（宽度或高度为 0），无法保存。");
    QTest::newRow("zero width") << 0 << 3 << 32 << empty;
    QTest::newRow("zero height") << 3 << 0 << 32 << empty;
    QTest::newRow("negative width") << -2 << 3 << 32 << empty;
    QTest::newRow("16 bits per pixel")
        << 2 << 2 << 16 << QStringLiteral("不支持 16 位的像素深度，无法保存为 BMP。");
}

void TestBmpWriter::refusesPicture()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(QString, message);

    Raster picture;
    picture.width = width;
    picture.height = height;
    picture.depth = depth;
    picture.pixels.assign(std::size_t(std::max(0, width) * std::max(0, height)), qRgb(0, 0, 0));

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    try {
        writeBmp(picture, buffer);
        QFAIL("the picture was written");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
    QCOMPARE(buffer.size(), 0);
}

QTEST_GUILESS_MAIN(TestBmpWriter)
#include "tst_bmp_writer.moc"
