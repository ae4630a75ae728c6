#include "composition/colouring.h"
#include "composition/ink.h"

#include <QtTest>

namespace {

// Hands out 1, 2, 3, ... so that a test sees which cell got which draw.
class CountingSource : public ColourSource {
public:
    ColourValue next() override { return ++draws; }
    ColourValue draws = 0;
};

StripLayout layoutOf(int n)
{
    StripLayout layout;
    for (int i = 0; i < n; ++i) {
        Cell cell;
        cell.index = i;
        layout.cells.push_back(cell);
    }
    return layout;
}

} // namespace

class TestColouring : public QObject {
    Q_OBJECT
private slots:
    void inkFromWindowText_data();
    void inkFromWindowText();
    void gradientPercents_data();
    void gradientPercents();
    void gradientColour_data();
    void gradientColour();
    void gradientAcrossTheStrip();
    void randomDrawsInWalkOrder();
    void emptyPhraseDrawsNothing();
    void defaultAndUnknownModesLeaveColoursEmpty_data();
    void defaultAndUnknownModesLeaveColoursEmpty();
    void lcgDrawsTwentyFourBits();
};

void TestColouring::gradientPercents_data()
{
    QTest::addColumn<QList<int>>("percents");
    QTest::newRow("n=1") << QList<int>{100};
    QTest::newRow("n=2") << QList<int>{50, 100};
    QTest::newRow("n=3") << QList<int>{33, 67, 100};
    QTest::newRow("n=4") << QList<int>{25, 50, 75, 100};
    QTest::newRow("n=5") << QList<int>{20, 40, 60, 80, 100};
    QTest::newRow("n=6") << QList<int>{17, 33, 50, 67, 83, 100};
    QTest::newRow("n=7") << QList<int>{14, 29, 43, 57, 71, 86, 100};
    QTest::newRow("n=8 halves go to even") << QList<int>{12, 25, 38, 50, 62, 75, 88, 100};
    QTest::newRow("n=9") << QList<int>{11, 22, 33, 44, 56, 67, 78, 89, 100};
    QTest::newRow("n=10") << QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
}

void TestColouring::gradientPercents()
{
    QFETCH(QList<int>, percents);
    const int n = int(percents.size());
    QList<int> got;
    for (int i = 1; i <= n; ++i)
        got.append(gradientPercent(i, n));
    QCOMPARE(got, percents);
}

void TestColouring::gradientColour_data()
{
    QTest::addColumn<ColourValue>("from");
    QTest::addColumn<ColourValue>("to");
    QTest::addColumn<int>("percent");
    QTest::addColumn<ColourValue>("expected");
    const ColourValue black = colourValue(0, 0, 0), white = colourValue(255, 255, 255);
    QTest::newRow("blue to red, 11% (first of nine)") << kBlue << kRed << 11 << colourValue(28, 0, 227);
    QTest::newRow("blue to red, 56% (fifth of nine)") << kBlue << kRed << 56 << colourValue(142, 0, 113);
    QTest::newRow("blue to red, 100% is the end") << kBlue << kRed << 100 << kRed;
    QTest::newRow("black to white, 12% truncates 30.6") << black << white << 12 << colourValue(30, 30, 30);
    QTest::newRow("negative step truncates toward zero")
        << colourValue(255, 0, 0) << colourValue(0, 0, 0) << 11 << colourValue(227, 0, 0);
    QTest::newRow("equal ends give that colour")
        << colourValue(9, 80, 200) << colourValue(9, 80, 200) << 37 << colourValue(9, 80, 200);
    QTest::newRow("top byte ignored") << (0xFF000000u | kBlue) << (0x7F000000u | kRed) << 100 << kRed;
}

void TestColouring::gradientColour()
{
    QFETCH(ColourValue, from);
    QFETCH(ColourValue, to);
    QFETCH(int, percent);
    QFETCH(ColourValue, expected);
    QCOMPARE(GradientColour(from, to, percent), expected);
}

void TestColouring::gradientAcrossTheStrip()
{
    StripSettings settings;
    settings.colourMode = ColourMode::Gradient;
    StripLayout layout = layoutOf(9);
    CountingSource random;
    applyColouring(layout, settings, random);
    QCOMPARE(*layout.cells[0].colour, colourValue(28, 0, 227));
    QCOMPARE(*layout.cells[4].colour, colourValue(142, 0, 113));
    QCOMPARE(*layout.cells[8].colour, colourValue(255, 0, 0));
    QCOMPARE(random.draws, 0u);
}

void TestColouring::randomDrawsInWalkOrder()
{
    StripSettings settings;
    StripLayout layout = layoutOf(4);
    CountingSource random;
    applyColouring(layout, settings, random);
    // The last character takes the first draw.
    QCOMPARE(*layout.cells[3].colour, 1u);
    QCOMPARE(*layout.cells[2].colour, 2u);
    QCOMPARE(*layout.cells[1].colour, 3u);
    QCOMPARE(*layout.cells[0].colour, 4u);
}

void TestColouring::emptyPhraseDrawsNothing()
{
    StripSettings settings;
    StripLayout layout = layoutOf(0);
    CountingSource random;
    applyColouring(layout, settings, random);
    QCOMPARE(random.draws, 0u);
}

void TestColouring::defaultAndUnknownModesLeaveColoursEmpty_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("default") << 3;
    QTest::newRow("zero selects nothing") << 0;
    QTest::newRow("four selects nothing") << 4;
}

void TestColouring::defaultAndUnknownModesLeaveColoursEmpty()
{
    QFETCH(int, mode);
    StripSettings settings;
    settings.colourMode = ColourMode(mode);
    StripLayout layout = layoutOf(3);
    layout.cells[1].colour = 42u;
    CountingSource random;
    applyColouring(layout, settings, random);
    for (const Cell &cell : layout.cells)
        QVERIFY(!cell.colour.has_value());
    QCOMPARE(random.draws, 0u);
}

void TestColouring::lcgDrawsTwentyFourBits()
{
    // Known answers of the generator from seed 0: the first state is 1,
    // giving 1 * 2^24 >> 32 = 0; the second is 134775814.
    LcgColourSource source(0);
    QCOMPARE(source.next(), 0u);
    QCOMPARE(source.next(), ColourValue((134775814ull << 24) >> 32));
    bool sawHighBlue = false;
    for (int i = 0; i < 1000; ++i) {
        const ColourValue c = source.next();
        QVERIFY(c <= 0xFFFFFFu);
        sawHighBlue = sawHighBlue || c >= 0x800000u;
    }
    QVERIFY(sawHighBlue);
}

void TestColouring::inkFromWindowText_data()
{
    QTest::addColumn<QColor>("windowText");
    QTest::addColumn<QColor>("ink");
    QTest::newRow("black stays") << QColor(Qt::black) << QColor(Qt::black);
    // #767676 is the lightest grey with 4.5:1 on white (4.54:1); #777777
    // falls just short (4.48:1).
    QTest::newRow("grey at 4.54:1 stays") << QColor(0x76, 0x76, 0x76) << QColor(0x76, 0x76, 0x76);
    QTest::newRow("grey at 4.48:1 gives black") << QColor(0x77, 0x77, 0x77) << QColor(Qt::black);
    QTest::newRow("dark scheme's text gives black") << QColor(0xEF, 0xF0, 0xF1) << QColor(Qt::black);
    QTest::newRow("white gives black") << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("dark blue stays") << QColor(0x1F, 0x3A, 0x93) << QColor(0x1F, 0x3A, 0x93);
    QTest::newRow("pure red (4.0:1) gives black") << QColor(Qt::red) << QColor(Qt::black);
    QTest::newRow("invalid colour gives black") << QColor() << QColor(Qt::black);
}

void TestColouring::inkFromWindowText()
{
    QFETCH(QColor, windowText);
    QFETCH(QColor, ink);
    QCOMPARE(::inkFromWindowText(windowText), ink);
    QCOMPARE(contrastRatio(Qt::black, Qt::white), 21.0);
}

QTEST_GUILESS_MAIN(TestColouring)
#include "tst_colouring.moc"
