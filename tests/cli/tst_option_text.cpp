#include "jobs/option_text.h"

#include "error_of.h"

#include <QtTest>

// The look's colours and offsets as the options and batch lines write them:
// each value reads back from what it is written as, and anything else is
// refused with a message that shows the accepted form.
class TestOptionText : public QObject {
    Q_OBJECT

private slots:
    void coloursParse_data();
    void coloursParse();
    void badColoursAreRefused_data();
    void badColoursAreRefused();
    void offsetsParse_data();
    void offsetsParse();
    void badOffsetsAreRefused_data();
    void badOffsetsAreRefused();
};

void TestOptionText::coloursParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowAlpha");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QString>("written");
    QTest::newRow("white") << "#ffffff" << false << QColor(255, 255, 255) << "#FFFFFF";
    QTest::newRow("mixed case, spaces") << "  #0aBc9F " << false << QColor(0x0A, 0xBC, 0x9F) << "#0ABC9F";
    QTest::newRow("half black") << "#00000080" << true << QColor(0, 0, 0, 128) << "#00000080";
    QTest::newRow("six digits where alpha is allowed")
        << "#FF8000" << true << QColor(255, 128, 0) << "#FF8000";
    QTest::newRow("clear red") << "#FF000000" << true << QColor(255, 0, 0, 0) << "#FF000000";
}

void TestOptionText::coloursParse()
{
    QFETCH(QString, text);
    QFETCH(bool, allowAlpha);
    QFETCH(QColor, colour);
    QFETCH(QString, written);
    const QColor parsed = parseStickerColour(text, allowAlpha, QStringLiteral("颜色"));
    QCOMPARE(parsed.rgba(), colour.rgba());
    QCOMPARE(formatStickerColour(parsed), written);
    QCOMPARE(parseStickerColour(written, allowAlpha, QStringLiteral("颜色")).rgba(), colour.rgba());
}

void TestOptionText::badColoursAreRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowAlpha");
    QTest::addColumn<QString>("message");
    const QString opaque = QStringLiteral("描边颜色必须写成 #RRGGBB（如 #FFFFFF），而不是“%1”。");
    const QString alpha =
        QStringLiteral("描边颜色必须写成 #RRGGBB 或 #RRGGBBAA（如 #00000080），而不是“%1”。");
    QTest::newRow("three digits") << "#fff" << false << opaque.arg("#fff");
    QTest::newRow("a name") << "white" << false << opaque.arg("white");
    QTest::newRow("not hex") << "#GG0000" << false << opaque.arg("#GG0000");
    QTest::newRow("alpha where none is allowed") << "#00000080" << false << opaque.arg("#00000080");
    QTest::newRow("seven digits") << "#0000008" << true << alpha.arg("#0000008");
    QTest::newRow("empty") << "" << true << alpha.arg("");
}

void TestOptionText::badColoursAreRefused()
{
    QFETCH(QString, text);
    QFETCH(bool, allowAlpha);
    QFETCH(QString, message);
    QCOMPARE(errorOf([&] { parseStickerColour(text, allowAlpha, QStringLiteral("描边颜色")); }), message);
}

void TestOptionText::offsetsParse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QString>("written");
    QTest::newRow("the default") << "2,2" << QPoint(2, 2) << "2,2";
    QTest::newRow("negative, spaces") << " -3 , 4 " << QPoint(-3, 4) << "-3,4";
    QTest::newRow("plus sign, limits") << "+20,-20" << QPoint(20, -20) << "20,-20";
    QTest::newRow("none") << "0,0" << QPoint(0, 0) << "0,0";
}

void TestOptionText::offsetsParse()
{
    QFETCH(QString, text);
    QFETCH(QPoint, offset);
    QFETCH(QString, written);
    QCOMPARE(parseShadowOffset(text, QStringLiteral("阴影偏移")), offset);
    QCOMPARE(formatShadowOffset(offset), written);
}

void TestOptionText::badOffsetsAreRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("one number") << "2";
    QTest::newRow("three numbers") << "2,2,2";
    QTest::newRow("letters") << "a,b";
    QTest::newRow("x beyond 20") << "21,0";
    QTest::newRow("y beyond -20") << "0,-21";
    QTest::newRow("a fraction") << "1.5,2";
    QTest::newRow("a full-width comma") << "2，2";
    QTest::newRow("empty") << "";
}

void TestOptionText::badOffsetsAreRefused()
{
    QFETCH(QString, text);
    const QString message =
        QStringLiteral("阴影偏移必须写成 X,Y（如 2,2），X 和 Y 是 -20 到 20 之间的整数，而不是“%1”。")
            .arg(text);
    QCOMPARE(errorOf([&] { parseShadowOffset(text, QStringLiteral("阴影偏移")); }), message);
}

QTEST_MAIN(TestOptionText)
#include "tst_option_text.moc"
