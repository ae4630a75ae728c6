#include "composition/row_layout.h"

#include <QtTest>

#include <algorithm>
#include <map>
#include <set>

namespace {

// Widths and heights grow with the size, so lines of different sizes differ.
class FakeMeasurer : public TextMeasurer {
public:
    QSize measure(const QString &, const FontRequest &font) override
    {
        return QSize(font.pointSize + 3, font.pointSize * 2);
    }
};

// Ink only in the middle half of each box, as a measurer that reads glyphs
// would report it.
class InkInTheMiddle : public FakeMeasurer {
public:
    InkRows inkRows(const QString &, const FontRequest &font) override
    {
        return {font.pointSize / 2, font.pointSize * 3 / 2};
    }
};

StripLayout oneRow(const QString &text, HorzAlign align, int spacing)
{
    StripSettings settings;
    settings.text = text;
    settings.horzAlign = align;
    settings.spacing = spacing;
    FakeMeasurer measurer;
    return computeStripLayout(settings, measurer, QSize());
}

int lineWidth(const StripLayout &layout, int y)
{
    int width = 0;
    for (const Cell &cell : layout.cells)
        if (cell.y == y)
            width += cell.width;
    return width;
}

// Whether a line with these gaps to the layout's sides is where `align`
// puts it (centred: to the pixel).
bool placedBy(HorzAlign align, int leftGap, int rightGap)
{
    switch (align) {
    case HorzAlign::Left:
        return leftGap == 0;
    case HorzAlign::Right:
        return rightGap == 0;
    case HorzAlign::Centre:
        break;
    }
    return std::abs(leftGap - rightGap) <= 1;
}

} // namespace

class TestRowLayout : public QObject {
    Q_OBJECT

private slots:
    void linesReadInOrderAndAreAligned_data();
    void linesReadInOrderAndAreAligned();
    void oneRowIsTheStrip();
    void breaksMakeTheLongerSideShortest();
    void linesAreSetByTheirInk_data();
    void linesAreSetByTheirInk();
    void spacesAtLineEndsStandOutside_data();
    void spacesAtLineEndsStandOutside();
};

void TestRowLayout::linesReadInOrderAndAreAligned_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::addColumn<HorzAlign>("align");
    QTest::addColumn<int>("spacing");

    const QString ten = QStringLiteral("一二三四五六七八九十");
    const std::pair<HorzAlign, const char *> aligns[] = {
        {HorzAlign::Left, "left"}, {HorzAlign::Centre, "centre"}, {HorzAlign::Right, "right"}};
    for (int n = 1; n <= 10; ++n)
        for (int rows = 1; rows <= kMaxRows; ++rows)
            for (const auto &[align, name] : aligns)
                for (const int spacing : {0, 7})
                    QTest::addRow("%d cells, %d rows, %s, spacing %d", n, rows, name, spacing)
                        << ten.left(n) << rows << align << spacing;
    // Characters of several code units stay whole in their cells.
    QTest::newRow("graphemes, 3 rows")
        << QStringLiteral("e\u0301👍🏽ab🇨🇳c") << 3 << HorzAlign::Centre << 5;
}

void TestRowLayout::linesReadInOrderAndAreAligned()
{
    QFETCH(QString, text);
    QFETCH(int, rows);
    QFETCH(HorzAlign, align);
    QFETCH(int, spacing);

    const StripLayout strip = oneRow(text, align, spacing);
    FakeMeasurer measurer;
    const StripLayout laid = inRows(strip, rows, measurer);

    QCOMPARE(laid.cells.size(), strip.cells.size());
    const int lines = std::min(rows, int(strip.cells.size()));
    QCOMPARE(laid.rows, std::max(lines, 1));

    QString read;
    std::set<int> tops;
    int bottom = 0;
    for (std::size_t i = 0; i < laid.cells.size(); ++i) {
        const Cell &cell = laid.cells[i];
        read += cell.text;
        // Sizes and widths are the strip's: the shout still grows in reading order.
        QCOMPARE(cell.pointSize, strip.cells[i].pointSize);
        QCOMPARE(cell.width, strip.cells[i].width);
        tops.insert(cell.y);
        if (i > 0) {
            const Cell &before = laid.cells[i - 1];
            if (cell.y == before.y) {
                QCOMPARE(cell.x, before.x + before.width);
                QCOMPARE(cell.height, before.height);
            } else {
                // A new line starts below the one before, the spacing apart.
                QCOMPARE(cell.y, before.y + before.height + spacing);
            }
        }
        bottom = std::max(bottom, cell.y + cell.height);
    }
    QCOMPARE(read, strip.settings.trimmedPhrase());
    QCOMPARE(int(tops.size()), std::max(lines, 1));
    QCOMPARE(laid.height, bottom);

    int widest = 0;
    for (const int top : tops)
        widest = std::max(widest, lineWidth(laid, top));
    QCOMPARE(laid.width, widest);

    for (const int top : tops) {
        const auto first = std::find_if(laid.cells.begin(), laid.cells.end(),
                                        [top](const Cell &cell) { return cell.y == top; });
        const auto last = std::find_if(laid.cells.rbegin(), laid.cells.rend(),
                                       [top](const Cell &cell) { return cell.y == top; });
        // A line is as tall as the reference glyph at its largest size.
        QCOMPARE(first->height, last->pointSize * 2);
        const int leftGap = first->x;
        const int rightGap = laid.width - (last->x + last->width);
        QVERIFY(leftGap >= 0 && rightGap >= 0);
        QVERIFY2(placedBy(align, leftGap, rightGap),
                 qPrintable(QStringLiteral("%1 | %2").arg(leftGap).arg(rightGap)));
    }
}

void TestRowLayout::oneRowIsTheStrip()
{
    const StripLayout strip = oneRow(QStringLiteral("友谊的小船说翻就翻"), HorzAlign::Right, 4);
    FakeMeasurer measurer;
    const StripLayout laid = inRows(strip, 1, measurer);
    QCOMPARE(laid.width, strip.width);
    QCOMPARE(laid.height, strip.height);
    QCOMPARE(laid.rows, 1);
    for (std::size_t i = 0; i < strip.cells.size(); ++i) {
        QCOMPARE(laid.cells[i].x, strip.cells[i].x);
        QCOMPARE(laid.cells[i].y, 0);
        QCOMPARE(laid.cells[i].height, strip.height);
    }
}

// Ten cells 23, 33, ... 113 wide and 40, 60, ... 220 tall: the best breaks,
// worked out apart from the program by trying every one, give a box of
// 371 x 380 in two lines (20..80 | 90..110), 392 x 400 in three
// (20 | 30..70 | 80..110) and 392 x 460 in four (20 | 30 | 40..70 | 80..110).
void TestRowLayout::breaksMakeTheLongerSideShortest()
{
    const StripLayout strip = oneRow(QStringLiteral("一二三四五六七八九十"), HorzAlign::Left, 0);
    QCOMPARE(strip.width, 680);
    FakeMeasurer measurer;
    const QSize expected[] = {{371, 380}, {392, 400}, {392, 460}};
    for (int rows = 2; rows <= 4; ++rows) {
        const StripLayout laid = inRows(strip, rows, measurer);
        QCOMPARE(QSize(laid.width, laid.height), expected[rows - 2]);
    }
}

void TestRowLayout::linesAreSetByTheirInk_data()
{
    QTest::addColumn<VertAlign>("align");
    QTest::addColumn<int>("spacing");
    QTest::newRow("top") << VertAlign::Top << 0;
    QTest::newRow("middle, spacing 6") << VertAlign::Middle << 6;
    QTest::newRow("bottom, spacing 3") << VertAlign::Bottom << 3;
}

// Lines of ink, not of boxes, are `spacing` apart, and the layout starts
// and ends with ink: the boxes' empty tops and bottoms would cost a square
// sticker a fifth of its height.
void TestRowLayout::linesAreSetByTheirInk()
{
    QFETCH(VertAlign, align);
    QFETCH(int, spacing);
    StripLayout strip = oneRow(QStringLiteral("一二三四五六七八九十"), HorzAlign::Left, spacing);
    strip.settings.vertAlign = align;
    InkInTheMiddle measurer;
    const StripLayout laid = inRows(strip, 3, measurer);

    // Each cell's ink where painting puts it: its own box (twice its size
    // tall) placed in the line's box by the alignment.
    std::map<int, std::pair<int, int>> lines; // box top -> ink top, bottom
    for (const Cell &cell : laid.cells) {
        const int spare = cell.height - 2 * cell.pointSize;
        const int above = align == VertAlign::Top ? 0 : align == VertAlign::Middle ? spare / 2 : spare;
        const int top = cell.y + above + cell.pointSize / 2;
        const int bottom = cell.y + above + cell.pointSize * 3 / 2;
        const auto [line, fresh] = lines.try_emplace(cell.y, top, bottom);
        line->second = {std::min(line->second.first, top), std::max(line->second.second, bottom)};
    }
    QCOMPARE(int(lines.size()), 3);
    int inkAbove = -1;
    for (const auto &[boxTop, ink] : lines) {
        QCOMPARE(ink.first, inkAbove < 0 ? 0 : inkAbove + spacing);
        inkAbove = ink.second;
    }
    QCOMPARE(laid.height, inkAbove);
}

void TestRowLayout::spacesAtLineEndsStandOutside_data()
{
    QTest::addColumn<HorzAlign>("align");
    QTest::newRow("left") << HorzAlign::Left;
    QTest::newRow("centre") << HorzAlign::Centre;
    QTest::newRow("right") << HorzAlign::Right;
}

// Cells wider than their lines are tall, so that width decides the breaks.
class WideMeasurer : public TextMeasurer {
public:
    QSize measure(const QString &, const FontRequest &font) override
    {
        return QSize(font.pointSize, font.pointSize / 2);
    }
};

// "GO GO GO" in three lines breaks at its spaces, and each line's GO, not a
// space before or after it, is what the alignment places.
void TestRowLayout::spacesAtLineEndsStandOutside()
{
    QFETCH(HorzAlign, align);
    StripSettings settings;
    settings.text = QStringLiteral("GO GO GO");
    settings.horzAlign = align;
    WideMeasurer measurer;
    const StripLayout laid = inRows(computeStripLayout(settings, measurer, QSize()), 3, measurer);

    std::map<int, std::vector<const Cell *>> lines;
    for (const Cell &cell : laid.cells)
        lines[cell.y].push_back(&cell);
    QCOMPARE(int(lines.size()), 3);
    int widest = 0;
    for (const auto &[top, cells] : lines) {
        QString text;
        for (const Cell *cell : cells)
            text += cell->text;
        QCOMPARE(text.trimmed(), QStringLiteral("GO"));
        const Cell *first = *std::find_if(cells.begin(), cells.end(),
                                          [](const Cell *cell) { return cell->text != QLatin1String(" "); });
        const Cell *last = *std::find_if(cells.rbegin(), cells.rend(),
                                         [](const Cell *cell) { return cell->text != QLatin1String(" "); });
        const int leftGap = first->x;
        const int rightGap = laid.width - (last->x + last->width);
        widest = std::max(widest, last->x + last->width - first->x);
        QVERIFY2(placedBy(align, leftGap, rightGap),
                 qPrintable(QStringLiteral("%1 | %2").arg(leftGap).arg(rightGap)));
    }
    QCOMPARE(laid.width, widest);

    // A line of nothing but a space only when there is no other way. For
    // lines as tall as FakeMeasurer's, "A B C D" in four would rather have
    // one ("A", " ", "B C", " D").
    settings.text = QStringLiteral("A B");
    QCOMPARE(inRows(computeStripLayout(settings, measurer, QSize()), 3, measurer).rows, 3);
    settings.text = QStringLiteral("A B C D");
    FakeMeasurer tall;
    const StripLayout four = inRows(computeStripLayout(settings, tall, QSize()), 4, tall);
    QCOMPARE(four.rows, 4);
    for (const Cell &cell : four.cells)
        QVERIFY(std::any_of(four.cells.begin(), four.cells.end(), [&cell](const Cell &other) {
            return other.y == cell.y && other.text != QLatin1String(" ");
        }));
}

QTEST_GUILESS_MAIN(TestRowLayout)
#include "tst_row_layout.moc"
