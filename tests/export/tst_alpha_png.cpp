#include "export/alpha_png.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

namespace {

QByteArray encoded(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(image, buffer);
    return buffer.data();
}

// A few straight-alpha pixels: opaque colour, fully clear, and partial
// coverage whose colour must survive although it is stored premultiplied.
QImage sample(qreal ratio)
{
    QImage image(3, 2, QImage::Format_ARGB32);
    const QRgb pixels[] = {qRgba(201, 37, 94, 255), qRgba(0, 0, 0, 0),         qRgba(255, 0, 0, 128),
                           qRgba(0, 0, 255, 64),    qRgba(255, 255, 255, 255), qRgba(12, 200, 7, 1)};
    for (int i = 0; i < 6; ++i)
        image.setPixel(i % 3, i / 3, pixels[i]);
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace

class TestAlphaPng : public QObject {
    Q_OBJECT
private slots:
    void keepsEveryPixelWithItsAlpha_data();
    void keepsEveryPixelWithItsAlpha();
    void nullImageWritesNothing();
};

void TestAlphaPng::keepsEveryPixelWithItsAlpha_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QByteArray>("pHYs"); // pixels per metre, both axes, unit metre
    QTest::newRow("straight alpha at ratio 1")
        << int(QImage::Format_ARGB32) << 1.0 << QByteArray::fromHex("00000ec400000ec401");
    QTest::newRow("premultiplied at ratio 2")
        << int(QImage::Format_ARGB32_Premultiplied) << 2.0 << QByteArray::fromHex("00001d8700001d8701");
}

void TestAlphaPng::keepsEveryPixelWithItsAlpha()
{
    QFETCH(int, format);
    QFETCH(qreal, ratio);
    QFETCH(QByteArray, pHYs);
    const QImage original = sample(ratio);
    const QByteArray png = encoded(original.convertToFormat(QImage::Format(format)));

    // IHDR: 3 x 2, bit depth 8, colour type 6 (RGBA).
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(png.mid(16, 10), QByteArray::fromHex("00000003000000020806"));
    const qsizetype physical = png.indexOf("pHYs");
    QVERIFY(physical > 0);
    QCOMPARE(png.mid(physical + 4, 9), pHYs);

    const QImage decoded = QImage::fromData(png, "PNG").convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(decoded.size(), original.size());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const QRgb want = original.pixel(x, y), got = decoded.pixel(x, y);
            QCOMPARE(qAlpha(got), qAlpha(want));
            // A premultiplied source loses colour precision where alpha is
            // low; where it is high the colour is exact.
            if (format == QImage::Format_ARGB32 || qAlpha(want) == 255)
                QCOMPARE(got, want);
        }
}

void TestAlphaPng::nullImageWritesNothing()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    try {
        writeAlphaPng(QImage(), buffer);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("图片为空（宽度或高度为 0），无法保存。"));
    }
    QCOMPARE(buffer.size(), 0);
}

QTEST_GUILESS_MAIN(TestAlphaPng)
#include "tst_alpha_png.moc"
