#include "app/window/strip_widget.h"
#include "laid_out_strip.h"

#include <QtTest>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;

struct Painted {
    StripLayout layout;
    QImage image;
};

// Lays out, colours and paints a strip the way the window does, in a parent
// that can be disabled to check that disabling an ancestor changes nothing.
Painted paint(const StripSettings &settings, bool disabledAncestor = false)
{
    const StripLayout layout = laidOutStrip(settings);
    QWidget outputArea;
    setWhiteGround(outputArea);
    outputArea.resize(layout.width, layout.height);
    outputArea.setDisabled(disabledAncestor);
    auto *strip = new StripView(layout, Qt::black, &outputArea);
    return {layout, strip->grab().toImage().convertToFormat(QImage::Format_RGB32)};
}

bool columnsWhite(const QImage &image, int fromX, int toX)
{
    for (int x = fromX; x < toX; ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) != kWhite)
                return false;
    return true;
}

// The vertical middle of the ink inside one cell, as a fraction of the
// height, or -1 when the cell is blank.
double inkCentre(const QImage &image, const Cell &cell)
{
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = cell.x; x < cell.x + cell.width; ++x)
            if (image.pixel(x, y) != kWhite) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
    return top < 0 ? -1.0 : (top + bottom) / 2.0 / image.height();
}

// True when `pixel` lies between `ink` and white, as anti-aliasing blends
// them; a pixel of another hue means the wrong colour was painted.
bool blendOfInkAndWhite(QRgb pixel, QColor ink)
{
    // The pixel must be white moved some fraction t of the way to the ink,
    // t taken from the channel with the widest range; the others may differ
    // by rounding only.
    const int pixelChannels[] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
    const int inkChannels[] = {ink.red(), ink.green(), ink.blue()};
    int widest = 0;
    for (int c = 1; c < 3; ++c)
        if (inkChannels[c] < inkChannels[widest])
            widest = c;
    if (inkChannels[widest] == 255)
        return (pixel & 0xFFFFFF) == 0xFFFFFF;
    const double t = double(255 - pixelChannels[widest]) / (255 - inkChannels[widest]);
    for (int c = 0; c < 3; ++c) {
        const double expected = 255 - t * (255 - inkChannels[c]);
        if (std::abs(pixelChannels[c] - expected) > 3.0)
            return false;
    }
    return t >= 0.0 && t <= 1.0;
}

} // namespace

class TestStripPainting : public QObject {
    Q_OBJECT
private slots:
    void stripTakesTheLayoutsSizeAndNoInput();
    void spacingShowsOnTheOtherSide_data();
    void spacingShowsOnTheOtherSide();
    void underlineAndStrikeOutStayInTheCharacter();
    void verticalAlignment_data();
    void verticalAlignment();
    void glyphsCarryExactColours_data();
    void glyphsCarryExactColours();
    void oddInputPaintsWithoutCrashing_data();
    void oddInputPaintsWithoutCrashing();
};

void TestStripPainting::stripTakesTheLayoutsSizeAndNoInput()
{
    StripSettings settings;
    settings.faceName = QStringLiteral("WenQuanYi Micro Hei");
    FontTextMeasurer measurer;
    const StripLayout layout = computeStripLayout(settings, measurer, QSize(1045, 319));
    QWidget outputArea;
    StripView strip(layout, Qt::black, &outputArea);
    QCOMPARE(strip.geometry(), QRect(0, 0, layout.width, layout.height));
    QVERIFY(strip.testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(strip.focusPolicy(), Qt::NoFocus);
}

void TestStripPainting::spacingShowsOnTheOtherSide_data()
{
    QTest::addColumn<int>("horz");
    QTest::newRow("right alignment leaves the spacing on the left") << int(HorzAlign::Right);
    QTest::newRow("left alignment leaves the spacing on the right") << int(HorzAlign::Left);
}

void TestStripPainting::spacingShowsOnTheOtherSide()
{
    QFETCH(int, horz);
    StripSettings settings;
    settings.spacing = 20;
    settings.horzAlign = HorzAlign(horz);
    const Painted painted = paint(settings);
    QCOMPARE(painted.image.width(), painted.layout.width);
    for (const Cell &cell : painted.layout.cells) {
        const int gapStart = horz == int(HorzAlign::Right) ? cell.x : cell.x + cell.width - 20;
        QVERIFY2(columnsWhite(painted.image, gapStart, gapStart + 20),
                 qPrintable(QString::number(cell.index)));
        QVERIFY(!columnsWhite(painted.image, cell.x, cell.x + cell.width));
    }
}

void TestStripPainting::underlineAndStrikeOutStayInTheCharacter()
{
    StripSettings settings;
    settings.spacing = 20;
    settings.underline = settings.strikeOut = true;
    const Painted painted = paint(settings);
    for (const Cell &cell : painted.layout.cells) {
        const int gapStart = cell.x + cell.width - 20;
        QVERIFY2(columnsWhite(painted.image, gapStart, gapStart + 20),
                 qPrintable(QString::number(cell.index)));
    }
    // The lines are there: the character's first column is inked somewhere
    // for every cell, which a bare "我" would not do at its very edge.
    const Painted plain = paint([] {
        StripSettings s;
        s.spacing = 20;
        return s;
    }());
    int extraInk = 0;
    for (int y = 0; y < painted.image.height(); ++y)
        for (int x = 0; x < painted.image.width(); ++x)
            extraInk += painted.image.pixel(x, y) != kWhite && plain.image.pixel(x, y) == kWhite;
    QVERIFY(extraInk > 100);
}

void TestStripPainting::verticalAlignment_data()
{
    QTest::addColumn<int>("vert");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    // The first character is 30 points in a 110-point-high strip.
    QTest::newRow("top hangs from the top") << int(VertAlign::Top) << 0.0 << 0.3;
    QTest::newRow("middle centres") << int(VertAlign::Middle) << 0.4 << 0.6;
    QTest::newRow("bottom stands at the foot") << int(VertAlign::Bottom) << 0.7 << 1.0;
    QTest::newRow("unknown value is top") << 9 << 0.0 << 0.3;
}

void TestStripPainting::verticalAlignment()
{
    QFETCH(int, vert);
    QFETCH(double, low);
    QFETCH(double, high);
    StripSettings settings;
    settings.vertAlign = VertAlign(vert);
    const Painted painted = paint(settings);
    const double centre = inkCentre(painted.image, painted.layout.cells.front());
    QVERIFY2(centre >= low && centre <= high, qPrintable(QString::number(centre)));
}

void TestStripPainting::glyphsCarryExactColours_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("disabledAncestor");
    QTest::newRow("gradient") << int(ColourMode::Gradient) << false;
    QTest::newRow("gradient under a disabled ancestor") << int(ColourMode::Gradient) << true;
    QTest::newRow("random") << int(ColourMode::Random) << false;
    QTest::newRow("default is black text") << int(ColourMode::Default) << false;
    QTest::newRow("default under a disabled ancestor") << int(ColourMode::Default) << true;
}

void TestStripPainting::glyphsCarryExactColours()
{
    QFETCH(int, mode);
    QFETCH(bool, disabledAncestor);
    StripSettings settings;
    settings.colourMode = ColourMode(mode);
    settings.bold = true;
    const Painted painted = paint(settings, disabledAncestor);
    for (const Cell &cell : painted.layout.cells) {
        const QColor ink = cell.colour ? toQColor(*cell.colour) : QColor(Qt::black);
        int exact = 0;
        for (int y = 0; y < painted.image.height(); ++y)
            for (int x = cell.x; x < cell.x + cell.width; ++x) {
                const QRgb pixel = painted.image.pixel(x, y);
                exact += (pixel & 0xFFFFFF) == (ink.rgb() & 0xFFFFFF);
                QVERIFY2(blendOfInkAndWhite(pixel, ink),
                         qPrintable(QStringLiteral("cell %1 pixel %2 ink %3")
                                        .arg(cell.index)
                                        .arg(pixel & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                                        .arg(ink.name())));
            }
        QVERIFY2(exact > 0, qPrintable(QString::number(cell.index)));
    }
}

void TestStripPainting::oddInputPaintsWithoutCrashing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("face");
    QTest::addColumn<int>("cells");
    QTest::newRow("controls inside") << QStringLiteral("我\t\n们") << QString() << 4;
    QTest::newRow("lone surrogate") << QString(QChar(0xDC00)) + QStringLiteral("我") << QString() << 2;
    QTest::newRow("ampersand") << QStringLiteral("&&&") << QString() << 3;
    QTest::newRow("face not installed") << QStringLiteral("你好") << QStringLiteral("没有这个字体") << 2;
    QTest::newRow("only spaces") << QStringLiteral("   ") << QString() << 0;
}

void TestStripPainting::oddInputPaintsWithoutCrashing()
{
    QFETCH(QString, text);
    QFETCH(QString, face);
    QFETCH(int, cells);
    StripSettings settings;
    settings.text = text;
    settings.faceName = face;
    const Painted painted = paint(settings);
    QCOMPARE(int(painted.layout.cells.size()), cells);
    QVERIFY(painted.layout.height > 100);
    if (cells > 0)
        QCOMPARE(painted.image.size(), QSize(painted.layout.width, painted.layout.height));
}

QTEST_MAIN(TestStripPainting)
#include "tst_strip_painting.moc"
