#include "composition/strip_rendering.h"
#include "laid_out_strip.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QtTest>

#include <thread>

namespace {

// Ascenders, descenders, Latin, Chinese and an ampersand, in a gradient so
// that every cell has a colour of its own.
StripSettings mixedPhrase()
{
    StripSettings settings;
    settings.text = QStringLiteral("fjWg我们Ag&1");
    settings.colourMode = ColourMode::Gradient;
    settings.horzAlign = HorzAlign::Centre;
    settings.vertAlign = VertAlign::Middle;
    return settings;
}

// `transparent` laid over white, as a viewer shows it on a white page.
QImage overWhite(const QImage &transparent)
{
    QImage flat(transparent.size(), QImage::Format_RGB32);
    flat.setDevicePixelRatio(transparent.devicePixelRatio());
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(QPoint(0, 0), transparent.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return flat;
}

int largestChannelDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

} // namespace

class TestStripRendering : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void imageSizeFormatAndRatio_data();
    void imageSizeFormatAndRatio();
    void emptyStripGivesNullImage();
    void samePixelsWhateverWasDrawnBefore();
    void paintsAtThePaintersOrigin();
    void workerThreadsGiveTheSamePixels();
    void transparentGroundKeepsSoftEdges_data();
    void transparentGroundKeepsSoftEdges();
};

void TestStripRendering::initTestCase()
{
    // Read once on the main thread, as the contract asks.
    QCOMPARE(defaultTextColour(), QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText));
}

void TestStripRendering::imageSizeFormatAndRatio_data()
{
    QTest::addColumn<int>("ground");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<int>("format");
    QTest::newRow("white at 1") << int(StripGround::White) << 1.0 << int(QImage::Format_RGB32);
    QTest::newRow("transparent at 1")
        << int(StripGround::Transparent) << 1.0 << int(QImage::Format_ARGB32_Premultiplied);
    QTest::newRow("white at 2") << int(StripGround::White) << 2.0 << int(QImage::Format_RGB32);
    QTest::newRow("transparent at 1.5 rounds")
        << int(StripGround::Transparent) << 1.5 << int(QImage::Format_ARGB32_Premultiplied);
}

void TestStripRendering::imageSizeFormatAndRatio()
{
    QFETCH(int, ground);
    QFETCH(qreal, ratio);
    QFETCH(int, format);
    StripSettings settings;
    settings.text = QStringLiteral("我");
    const StripLayout layout = laidOutStrip(settings);
    const QImage image = renderStrip(layout, StripGround(ground), ratio);
    QCOMPARE(image.size(), QSize(qRound(layout.width * ratio), qRound(layout.height * ratio)));
    QCOMPARE(int(image.format()), format);
    QCOMPARE(image.devicePixelRatio(), ratio);
}

void TestStripRendering::emptyStripGivesNullImage()
{
    StripSettings settings;
    settings.text = QStringLiteral("   ");
    const StripLayout layout = laidOutStrip(settings);
    QCOMPARE(layout.width, 0);
    QVERIFY(renderStrip(layout, StripGround::White).isNull());
    QVERIFY(renderStrip(layout, StripGround::Transparent, 2.0).isNull());
}

// Qt keeps rasterised glyphs in a cache whose entries depend on the sizes,
// transforms and sub-pixel positions drawn so far; none of that may show.
void TestStripRendering::samePixelsWhateverWasDrawnBefore()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage first = renderStrip(layout, StripGround::White);

    QImage scratch(2000, 400, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    for (const qreal offset : {0.13, 0.27, 0.5, 0.71}) {
        painter.resetTransform();
        painter.translate(offset, offset * 3);
        painter.scale(1.0 + offset, 1.0 + offset);
        paintStrip(painter, layout, StripGround::Transparent);
        StripLayout wider = laidOutStrip([] {
            StripSettings settings = mixedPhrase();
            settings.spacing = 36;
            settings.italic = true;
            return settings;
        }());
        paintStrip(painter, wider, StripGround::White, 120.0);
    }
    painter.end();

    QCOMPARE(renderStrip(layout, StripGround::White), first);
    QCOMPARE(renderStrip(layout, StripGround::White, 2.0), renderStrip(layout, StripGround::White, 2.0));
}

void TestStripRendering::paintsAtThePaintersOrigin()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage alone = renderStrip(layout, StripGround::White);

    QImage page(alone.width() + 50, alone.height() + 30, QImage::Format_RGB32);
    page.fill(Qt::green);
    QPainter painter(&page);
    painter.translate(50, 30);
    paintStrip(painter, layout, StripGround::White);
    painter.end();

    QCOMPARE(page.copy(50, 30, alone.width(), alone.height()), alone);
    // The ground covers the strip and nothing beyond it.
    QCOMPARE(page.pixel(49, 29), QColor(Qt::green).rgb());
    QCOMPARE(page.pixel(50, 30), QColor(Qt::white).rgb());

    // A clip the caller set holds for the characters too.
    QImage clipped(alone.size(), QImage::Format_RGB32);
    clipped.fill(Qt::green);
    QPainter clipping(&clipped);
    clipping.setClipRect(0, 0, 100, alone.height());
    paintStrip(clipping, layout, StripGround::White);
    clipping.end();
    QCOMPARE(clipped.copy(0, 0, 100, alone.height()), alone.copy(0, 0, 100, alone.height()));
    QImage beyond(alone.width() - 100, alone.height(), QImage::Format_RGB32);
    beyond.fill(Qt::green);
    QCOMPARE(clipped.copy(100, 0, beyond.width(), beyond.height()), beyond);
}

void TestStripRendering::workerThreadsGiveTheSamePixels()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage here = renderStrip(layout, StripGround::Transparent);
    QImage there[2];
    std::thread workers[2];
    for (int i = 0; i < 2; ++i)
        workers[i] =
            std::thread([&layout, &there, i] { there[i] = renderStrip(layout, StripGround::Transparent); });
    for (std::thread &worker : workers)
        worker.join();
    QCOMPARE(there[0], here);
    QCOMPARE(there[1], here);
}

void TestStripRendering::transparentGroundKeepsSoftEdges_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("ratio 1") << 1.0;
    QTest::newRow("ratio 2") << 2.0;
}

void TestStripRendering::transparentGroundKeepsSoftEdges()
{
    QFETCH(qreal, ratio);
    StripSettings settings = mixedPhrase();
    settings.bold = true;
    const StripLayout layout = laidOutStrip(settings);
    const QImage white = renderStrip(layout, StripGround::White, ratio);
    const QImage clear =
        renderStrip(layout, StripGround::Transparent, ratio).convertToFormat(QImage::Format_ARGB32);

    QCOMPARE(clear.pixel(0, 0), 0u);
    int opaque = 0, partial = 0, wrongOpaque = 0;
    for (const Cell &cell : layout.cells) {
        const QRgb ink = toQColor(*cell.colour).rgb();
        const int from = qRound(cell.x * ratio), to = qRound((cell.x + cell.width) * ratio);
        for (int y = 0; y < clear.height(); ++y)
            for (int x = from; x < to; ++x) {
                const QRgb pixel = clear.pixel(x, y);
                if (qAlpha(pixel) == 255) {
                    ++opaque;
                    wrongOpaque += pixel != ink;
                } else if (qAlpha(pixel) > 0) {
                    ++partial;
                }
            }
    }
    QVERIFY(opaque > 1000);
    QCOMPARE(wrongOpaque, 0);
    QVERIFY2(partial > 200, qPrintable(QString::number(partial)));
    const int difference = largestChannelDifference(overWhite(clear), white);
    QVERIFY2(difference <= 3, qPrintable(QString::number(difference)));
}

QTEST_MAIN(TestStripRendering)
#include "tst_strip_rendering.moc"
