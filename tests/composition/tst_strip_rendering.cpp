#include "composition/strip_rendering.h"
#include "laid_out_strip.h"

#include "composition/ink.h"

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

// Pixels inside `cell` of `image` (ratio 1) that lie off the line from white
// to `ink` by more than anti-aliasing could put them: a colour the cell's
// ink cannot make.
int pixelsOffTheInkLine(const QImage &image, const Cell &cell, const QColor &ink)
{
    int off = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = cell.x; x < cell.x + cell.width; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            // The pixel as white moved t of the way to the ink, t from the
            // channel with the widest range.
            const int channels[3][2] = {
                {pixel.red(), ink.red()}, {pixel.green(), ink.green()}, {pixel.blue(), ink.blue()}};
            int widest = 0;
            for (int c = 1; c < 3; ++c)
                if (std::abs(255 - channels[c][1]) > std::abs(255 - channels[widest][1]))
                    widest = c;
            const double range = 255 - channels[widest][1];
            const double t = range == 0 ? 0.0 : (255 - channels[widest][0]) / range;
            int distance = 0;
            for (const auto &channel : channels)
                distance =
                    std::max(distance, std::abs(channel[0] - int(std::lround(255 - t * (255 - channel[1])))));
            off += distance > 48;
        }
    return off;
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
    void sameStripAfterAnother_data();
    void sameStripAfterAnother();
    void paintsAtThePaintersOrigin();
    void workerThreadsGiveTheSamePixels();
    void transparentGroundKeepsSoftEdges_data();
    void transparentGroundKeepsSoftEdges();
    void emojiKeepsItsOwnColours_data();
    void emojiKeepsItsOwnColours();
    void characterNoFaceDrawsShowsABoxQuietly();
    void inkIsTheCallersChoice();
    void boldThickensEveryCell_data();
    void boldThickensEveryCell();
};

void TestStripRendering::initTestCase()
{
    // The strip's ink is the caller's choice: a palette set on the
    // application must not reach it.
    QPalette dark;
    dark.setColor(QPalette::WindowText, QColor(0xEF, 0xF0, 0xF1));
    QGuiApplication::setPalette(dark);
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
    const QImage image = renderStrip(layout, StripGround(ground), Qt::black, ratio);
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
    QVERIFY(renderStrip(layout, StripGround::White, Qt::black).isNull());
    QVERIFY(renderStrip(layout, StripGround::Transparent, Qt::black, 2.0).isNull());
}

// Qt keeps rasterised glyphs in a cache whose entries depend on the sizes,
// transforms and sub-pixel positions drawn so far; none of that may show.
void TestStripRendering::samePixelsWhateverWasDrawnBefore()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage first = renderStrip(layout, StripGround::White, Qt::black);

    QImage scratch(2000, 400, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    for (const qreal offset : {0.13, 0.27, 0.5, 0.71}) {
        painter.resetTransform();
        painter.translate(offset, offset * 3);
        painter.scale(1.0 + offset, 1.0 + offset);
        paintStrip(painter, layout, StripGround::Transparent, Qt::black);
        StripLayout wider = laidOutStrip([] {
            StripSettings settings = mixedPhrase();
            settings.spacing = 36;
            settings.italic = true;
            return settings;
        }());
        paintStrip(painter, wider, StripGround::White, Qt::black, 120.0);
    }
    painter.end();

    QCOMPARE(renderStrip(layout, StripGround::White, Qt::black), first);
    QCOMPARE(renderStrip(layout, StripGround::White, Qt::black, 2.0),
             renderStrip(layout, StripGround::White, Qt::black, 2.0));
}

// Glyphs up to 64 pixels come from Qt's glyph cache, rasterised at the
// fraction of a pixel they start at; larger ones are filled as outlines. The
// outline of a large glyph must not depend on where the last small glyph
// happened to start, nor on whether its own measurements were already known.
void TestStripRendering::sameStripAfterAnother_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<int>("horzAlign");
    QTest::addColumn<int>("spacing");
    // 'j' at 40 pt starts off the pixel grid; 我 at 50 pt, just too large
    // for the cache, follows it.
    QTest::newRow("the strip itself, centred")
        << QStringLiteral("j我一二三四五六") << QStringLiteral("j我一二三四五六") << false << false << 2 << 0;
    QTest::newRow("every style, right, spacing 36")
        << QStringLiteral("jW我") << QStringLiteral("fjWg我们Ag&1") << true << true << 3 << 36;
    QTest::newRow("a short strip, then ten characters")
        << QStringLiteral("fj") << QStringLiteral("一二三四五六七八九十") << true << false << 2 << 20;
}

void TestStripRendering::sameStripAfterAnother()
{
    QFETCH(QString, before);
    QFETCH(QString, phrase);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(int, horzAlign);
    QFETCH(int, spacing);
    StripSettings settings;
    settings.text = phrase;
    settings.bold = bold;
    settings.italic = italic;
    settings.horzAlign = HorzAlign(horzAlign);
    settings.vertAlign = VertAlign::Bottom;
    settings.spacing = spacing;
    settings.colourMode = ColourMode::Default;
    const StripLayout layout = laidOutStrip(settings);
    StripSettings other = settings;
    other.text = before;
    const StripLayout earlier = laidOutStrip(other);

    const QImage first = renderStrip(layout, StripGround::White, Qt::black);
    renderStrip(earlier, StripGround::White, Qt::black);
    QCOMPARE(renderStrip(layout, StripGround::White, Qt::black), first);
    renderStrip(earlier, StripGround::Transparent, Qt::black, 1.0, 72.0);
    QCOMPARE(renderStrip(layout, StripGround::White, Qt::black), first);
}

void TestStripRendering::paintsAtThePaintersOrigin()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage alone = renderStrip(layout, StripGround::White, Qt::black);

    QImage page(alone.width() + 50, alone.height() + 30, QImage::Format_RGB32);
    page.fill(Qt::green);
    QPainter painter(&page);
    painter.translate(50, 30);
    paintStrip(painter, layout, StripGround::White, Qt::black);
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
    paintStrip(clipping, layout, StripGround::White, Qt::black);
    clipping.end();
    QCOMPARE(clipped.copy(0, 0, 100, alone.height()), alone.copy(0, 0, 100, alone.height()));
    QImage beyond(alone.width() - 100, alone.height(), QImage::Format_RGB32);
    beyond.fill(Qt::green);
    QCOMPARE(clipped.copy(100, 0, beyond.width(), beyond.height()), beyond);
}

void TestStripRendering::workerThreadsGiveTheSamePixels()
{
    const StripLayout layout = laidOutStrip(mixedPhrase());
    const QImage here = renderStrip(layout, StripGround::Transparent, Qt::black);
    QImage there[2];
    std::thread workers[2];
    for (int i = 0; i < 2; ++i)
        workers[i] = std::thread(
            [&layout, &there, i] { there[i] = renderStrip(layout, StripGround::Transparent, Qt::black); });
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
    const QImage white = renderStrip(layout, StripGround::White, Qt::black, ratio);
    const QImage clear = renderStrip(layout, StripGround::Transparent, Qt::black, ratio)
                             .convertToFormat(QImage::Format_ARGB32);

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

void TestStripRendering::emojiKeepsItsOwnColours_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("default ink") << int(ColourMode::Default);
    QTest::newRow("random") << int(ColourMode::Random);
    QTest::newRow("gradient") << int(ColourMode::Gradient);
}

void TestStripRendering::emojiKeepsItsOwnColours()
{
    QFETCH(int, mode);
    StripSettings settings;
    settings.text = QStringLiteral("加油💪🔥");
    settings.colourMode = ColourMode(mode);
    const StripLayout layout = laidOutStrip(settings);
    QCOMPARE(layout.cells.size(), std::size_t(4));
    const QImage image = renderStrip(layout, StripGround::White, Qt::black);
    for (const Cell &cell : layout.cells) {
        const QColor ink = cell.colour ? toQColor(*cell.colour) : QColor(Qt::black);
        const int off = pixelsOffTheInkLine(image, cell, ink);
        // A character is drawn in its cell's colour; an emoji in its own.
        if (cell.index < 2)
            QVERIFY2(off == 0, qPrintable(QStringLiteral("cell %1: %2").arg(cell.index).arg(off)));
        else
            QVERIFY2(off > 500, qPrintable(QStringLiteral("cell %1: %2").arg(cell.index).arg(off)));
    }
}

void TestStripRendering::characterNoFaceDrawsShowsABoxQuietly()
{
    // U+0D80 is unassigned: no face draws it, and the shaper would find no
    // script for it.
    StripSettings settings;
    settings.text = QStringLiteral("\u0D80我");
    settings.colourMode = ColourMode::Default;
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) { messages << message; });
    const QImage image = renderStrip(laidOutStrip(settings), StripGround::White, Qt::black);
    qInstallMessageHandler(previous);
    QCOMPARE(messages, QStringList());
    const StripLayout layout = laidOutStrip(settings);
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < layout.cells[0].width; ++x)
            inked += qGray(image.pixel(x, y)) < 128;
    QVERIFY2(inked > 50, qPrintable(QString::number(inked)));
}

void TestStripRendering::inkIsTheCallersChoice()
{
    // The application's palette (dark, set in initTestCase) is never read:
    // the same layout gives the caller's ink, whatever it is.
    StripSettings settings;
    settings.text = QStringLiteral("我");
    settings.colourMode = ColourMode::Default;
    const StripLayout layout = laidOutStrip(settings);
    for (const QColor ink : {QColor(Qt::black), QColor(0x1F, 0x3A, 0x93)}) {
        const QImage image = renderStrip(layout, StripGround::White, ink);
        int exact = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                exact += image.pixel(x, y) == ink.rgb();
        QVERIFY2(exact > 500, qPrintable(ink.name()));
    }
}

namespace {

// How much ink `cell` of a white-ground strip holds: the darkness summed
// over its columns, in physical pixels.
qint64 inkInCell(const QImage &image, const Cell &cell)
{
    const qreal ratio = image.devicePixelRatio();
    const int left = int(std::lround(cell.x * ratio));
    const int right = std::min(image.width(), int(std::lround((cell.x + cell.width) * ratio)));
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = left; x < right; ++x)
            ink += 255 - qGray(image.pixel(x, y));
    return ink;
}

} // namespace

void TestStripRendering::boldThickensEveryCell_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("italic");
    // Nine characters run from 30 to 110 points, well past the sizes Qt
    // emboldens in its glyph cache.
    QTest::newRow("scale 1") << qreal(1) << false;
    QTest::newRow("scale 2") << qreal(2) << false;
    QTest::newRow("italic at scale 1") << qreal(1) << true;
}

void TestStripRendering::boldThickensEveryCell()
{
    QFETCH(qreal, ratio);
    QFETCH(bool, italic);
    StripSettings settings;
    settings.text = QStringLiteral("友谊的小船说翻就翻");
    settings.italic = italic;
    const StripLayout regular = laidOutStrip(settings);
    settings.bold = true;
    const StripLayout bold = laidOutStrip(settings);
    QCOMPARE(bold.cells.size(), regular.cells.size());

    const QImage regularImage = renderStrip(regular, StripGround::White, Qt::black, ratio);
    const QImage boldImage = renderStrip(bold, StripGround::White, Qt::black, ratio);
    for (std::size_t i = 0; i < bold.cells.size(); ++i) {
        // Bold is drawn, never measured: the cells stay where they were.
        QCOMPARE(bold.cells[i].width, regular.cells[i].width);
        const qint64 regularInk = inkInCell(regularImage, regular.cells[i]);
        const qint64 boldInk = inkInCell(boldImage, bold.cells[i]);
        QVERIFY2(boldInk > regularInk * 11 / 10,
                 qPrintable(QStringLiteral("cell %1 (%2 pt): %3 ink bold, %4 regular")
                                .arg(i)
                                .arg(bold.cells[i].pointSize)
                                .arg(boldInk)
                                .arg(regularInk)));
    }
}

QTEST_MAIN(TestStripRendering)
#include "tst_strip_rendering.moc"
