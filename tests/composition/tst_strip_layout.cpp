#include "composition/strip_layout.h"

#include <QtTest>

namespace {

// A measurer with round numbers: the reference box at s points is
// (s + 3) x (2 s). It records every request so that tests can see how often
// and with what it was asked.
class FakeMeasurer : public TextMeasurer {
public:
    QSize measure(const QString &text, const FontRequest &font) override
    {
        requests.append({text, font});
        return QSize(font.pointSize + 3, font.pointSize * 2);
    }
    QList<QPair<QString, FontRequest>> requests;
};

StripSettings withText(const QString &text)
{
    StripSettings settings;
    settings.text = text;
    settings.faceName = QStringLiteral("WenQuanYi Micro Hei");
    return settings;
}

QList<int> sizesOf(const StripLayout &layout)
{
    QList<int> sizes;
    for (const Cell &cell : layout.cells)
        sizes.append(cell.pointSize);
    return sizes;
}

} // namespace

class TestStripLayout : public QObject {
    Q_OBJECT
private slots:
    void sizesGrowToTheLast_data();
    void sizesGrowToTheLast();
    void cellsAreReferenceWidePlusSpacing_data();
    void cellsAreReferenceWidePlusSpacing();
    void emptyPhraseStillHasHeight();
    void centring_data();
    void centring();
    void measuresRegularStyleAtMostElevenTimes();
    void oneCellPerCharacterSeen_data();
    void oneCellPerCharacterSeen();
    void realFontWidthsIgnoreStyleAndCharacter();
};

void TestStripLayout::sizesGrowToTheLast_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("one character is 110") << QStringLiteral("我") << QList<int>{110};
    QTest::newRow("default phrase 30..110")
        << kInitialPhrase << QList<int>{30, 40, 50, 60, 70, 80, 90, 100, 110};
    QTest::newRow("ten characters 20..110")
        << QStringLiteral("一二三四五六七八九十") << QList<int>{20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
    QTest::newRow("trimmed before counting") << QStringLiteral("  我们 ") << QList<int>{100, 110};
}

void TestStripLayout::sizesGrowToTheLast()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, sizes);
    FakeMeasurer measurer;
    const StripLayout layout = computeStripLayout(withText(text), measurer, QSize(1045, 319));
    QCOMPARE(sizesOf(layout), sizes);
    for (std::size_t i = 0; i < layout.cells.size(); ++i) {
        QCOMPARE(layout.cells[i].index, int(i));
        QCOMPARE(layout.cells[i].text, QString(text.trimmed().at(qsizetype(i))));
    }
}

void TestStripLayout::cellsAreReferenceWidePlusSpacing_data()
{
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QList<int>>("xs");
    QTest::addColumn<QList<int>>("widths");
    QTest::addColumn<int>("stripWidth");
    // Reference widths at 90, 100, 110 points are 93, 103, 113.
    QTest::newRow("no spacing") << 0 << QList<int>{0, 93, 196} << QList<int>{93, 103, 113} << 309;
    QTest::newRow("spacing 36 widens every cell, the last too")
        << 36 << QList<int>{0, 129, 268} << QList<int>{129, 139, 149} << 417;
}

void TestStripLayout::cellsAreReferenceWidePlusSpacing()
{
    QFETCH(int, spacing);
    QFETCH(QList<int>, xs);
    QFETCH(QList<int>, widths);
    QFETCH(int, stripWidth);
    StripSettings settings = withText(QStringLiteral("a1我"));
    settings.spacing = spacing;
    FakeMeasurer measurer;
    const StripLayout layout = computeStripLayout(settings, measurer, QSize(1045, 319));

    QList<int> gotXs, gotWidths;
    for (const Cell &cell : layout.cells) {
        gotXs.append(cell.x);
        gotWidths.append(cell.width);
        QCOMPARE(cell.height, 220);
        QVERIFY(!cell.colour.has_value());
    }
    QCOMPARE(gotXs, xs);
    QCOMPARE(gotWidths, widths);
    QCOMPARE(layout.width, stripWidth);
    QCOMPARE(layout.height, 220);
}

void TestStripLayout::emptyPhraseStillHasHeight()
{
    FakeMeasurer measurer;
    const StripLayout layout =
        computeStripLayout(withText(QStringLiteral("   ")), measurer, QSize(1045, 319));
    QVERIFY(layout.cells.empty());
    QCOMPARE(layout.width, 0);
    QCOMPARE(layout.height, 220);
    QCOMPARE(layout.left, 522);
    QCOMPARE(layout.top, 49);
    QCOMPARE(measurer.requests.size(), 1);
    QCOMPARE(measurer.requests.first().second.pointSize, 110);
}

void TestStripLayout::centring_data()
{
    QTest::addColumn<QSize>("region");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    // One cell: 113 x 220.
    QTest::newRow("room on both sides") << QSize(1045, 319) << 466 << 49;
    QTest::newRow("odd leftover rounds down") << QSize(114, 221) << 0 << 0;
    QTest::newRow("too narrow truncates toward zero") << QSize(108, 215) << -2 << -2;
    QTest::newRow("much too small") << QSize(0, 0) << -56 << -110;
}

void TestStripLayout::centring()
{
    QFETCH(QSize, region);
    QFETCH(int, left);
    QFETCH(int, top);
    FakeMeasurer measurer;
    const StripLayout layout = computeStripLayout(withText(QStringLiteral("我")), measurer, region);
    QCOMPARE(layout.left, left);
    QCOMPARE(layout.top, top);
}

void TestStripLayout::measuresRegularStyleAtMostElevenTimes()
{
    StripSettings settings = withText(QStringLiteral("一二三四五六七八九十"));
    settings.bold = settings.italic = settings.underline = settings.strikeOut = true;
    FakeMeasurer measurer;
    computeStripLayout(settings, measurer, QSize(1045, 319));

    QCOMPARE(measurer.requests.size(), 11);
    for (const auto &[text, font] : measurer.requests) {
        QCOMPARE(text, QStringLiteral("我"));
        QCOMPARE(font.faceName, settings.faceName);
        QCOMPARE(font.charSet, 134);
        QVERIFY(!font.bold && !font.italic && !font.underline && !font.strikeOut);
    }
}

void TestStripLayout::oneCellPerCharacterSeen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("Chinese") << QStringLiteral("加油") << QStringList{"加", "油"};
    QTest::newRow("Latin") << QStringLiteral("Go!") << QStringList{"G", "o", "!"};
    QTest::newRow("supplementary Han character is one cell")
        << QStringLiteral("\U00020BB7我") << QStringList{"\U00020BB7", "我"};
    QTest::newRow("emoji after Chinese") << QStringLiteral("加油💪🔥") << QStringList{"加", "油", "💪", "🔥"};
    QTest::newRow("emoji with skin-tone modifier")
        << QStringLiteral("好👍🏽") << QStringList{"好", QStringLiteral("👍🏽")};
    QTest::newRow("emoji with variation selector")
        << QStringLiteral("\u2764\uFE0F你") << QStringList{"\u2764\uFE0F", "你"};
    QTest::newRow("zero-width-joiner family")
        << QStringLiteral("👨\u200D👩\u200D👧") << QStringList{QStringLiteral("👨\u200D👩\u200D👧")};
    QTest::newRow("flag pair") << QStringLiteral("🇨🇳中") << QStringList{QStringLiteral("🇨🇳"), "中"};
    QTest::newRow("decomposed Café") << QStringLiteral("Cafe\u0301")
                                     << QStringList{"C", "a", "f", QStringLiteral("e\u0301")};
    QTest::newRow("Việt with two marks on one letter")
        << QStringLiteral("Vie\u0323\u0302t") << QStringList{"V", "i", QStringLiteral("e\u0323\u0302"), "t"};
    QTest::newRow("lone surrogate half keeps a cell of its own")
        << QString(QChar(0xD83D)) + QStringLiteral("我") << QStringList{QString(QChar(0xD83D)), "我"};
    QTest::newRow("a mark does not join a lone half")
        << QString(QChar(0xDC00)) + QStringLiteral("\u0301") << QStringList{QString(QChar(0xDC00)), "\u0301"};
    QTest::newRow("CR LF stay two cells")
        << QStringLiteral("我\r\n们") << QStringList{"我", "\r", "\n", "们"};
}

void TestStripLayout::oneCellPerCharacterSeen()
{
    QFETCH(QString, text);
    QFETCH(QStringList, cells);
    FakeMeasurer measurer;
    const StripLayout layout = computeStripLayout(withText(text), measurer, QSize(1045, 319));
    QStringList texts;
    for (const Cell &cell : layout.cells)
        texts << cell.text;
    QCOMPARE(texts, cells);
    // Sizes still count cells: the last is 110, each one before 10 smaller,
    // and every cell is as wide as the reference at its size.
    for (const Cell &cell : layout.cells) {
        QCOMPARE(cell.pointSize, 110 - 10 * (int(cells.size()) - 1 - cell.index));
        QCOMPARE(cell.width, cell.pointSize + 3);
    }
}

void TestStripLayout::realFontWidthsIgnoreStyleAndCharacter()
{
    // With a real face, the cells of Latin letters and digits are as wide as
    // those of Chinese characters, and no style flag changes any width.
    StripSettings plain = withText(QStringLiteral("iW1我"));
    StripSettings styled = plain;
    styled.text = QStringLiteral("我我我我");
    styled.bold = styled.italic = true;
    FontTextMeasurer measurer;
    const StripLayout a = computeStripLayout(plain, measurer, QSize(1045, 319));
    FontTextMeasurer fresh;
    const StripLayout b = computeStripLayout(styled, fresh, QSize(1045, 319));
    QCOMPARE(a.width, b.width);
    for (std::size_t i = 0; i < a.cells.size(); ++i)
        QCOMPARE(a.cells[i].width, b.cells[i].width);
    // A CJK face draws "我" roughly one em wide: 110 points are 147 pixels.
    QVERIFY2(a.cells.back().width >= 140 && a.cells.back().width <= 150,
             qPrintable(QString::number(a.cells.back().width)));
}

QTEST_MAIN(TestStripLayout)
#include "tst_strip_layout.moc"
