#include "composition/strip_settings.h"

#include <QtTest>

class TestStripSettings : public QObject {
    Q_OBJECT
private slots:
    void initialValues();
    void trimmedPhrase_data();
    void trimmedPhrase();
    void radioValue_data();
    void radioValue();
    void colourValueLayout();
};

void TestStripSettings::initialValues()
{
    const StripSettings settings;
    QCOMPARE(settings.text, QStringLiteral("友谊的小船说翻就翻"));
    QCOMPARE(settings.text.size(), 9);
    QVERIFY(settings.faceName.isEmpty());
    QVERIFY(!settings.bold && !settings.italic && !settings.underline && !settings.strikeOut);
    QCOMPARE(int(settings.horzAlign), 1);
    QCOMPARE(int(settings.vertAlign), 1);
    QCOMPARE(settings.spacing, 0);
    QCOMPARE(int(settings.colourMode), 1);
    QCOMPARE(settings.startColour, 16711680u);
    QCOMPARE(settings.endColour, 255u);
}

void TestStripSettings::trimmedPhrase_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");

    QTest::newRow("only spaces trim to nothing") << QStringLiteral("     ") << QString();
    QTest::newRow("empty stays empty") << QString() << QString();
    QTest::newRow("spaces around one character") << QStringLiteral("  我 ") << QStringLiteral("我");
    QTest::newRow("ideographic space is kept") << QStringLiteral("\u3000我") << QStringLiteral("\u3000我");
    QTest::newRow("no-break space is kept")
        << QStringLiteral("\u00a0我\u00a0") << QStringLiteral("\u00a0我\u00a0");
    QTest::newRow("controls at the ends go")
        << QStringLiteral("\t\r\n我们\x01\x1f") << QStringLiteral("我们");
    QTest::newRow("controls inside stay") << QStringLiteral("我\t们") << QStringLiteral("我\t们");
    QTest::newRow("DEL (127) is not trimmed") << QStringLiteral("\x7f我") << QStringLiteral("\x7f我");
    QTest::newRow("supplementary character is two units")
        << QStringLiteral(" \U00020BB7 ") << QStringLiteral("\U00020BB7");
    QTest::newRow("lone surrogate is kept")
        << QString(QChar(0xD800)) + QStringLiteral("我 ") << QString(QChar(0xD800)) + QStringLiteral("我");
    QTest::newRow("more than ten units is cut to ten")
        << QStringLiteral("一二三四五六七八九十百") << QStringLiteral("一二三四五六七八九十");
    QTest::newRow("an emoji that would not fit whole goes whole")
        << QStringLiteral("一二三四五六七八九😀") << QStringLiteral("一二三四五六七八九");
    QTest::newRow("a modifier that would not fit takes its emoji along")
        << QStringLiteral("一二三四五六七👍🏽") << QStringLiteral("一二三四五六七");
}

void TestStripSettings::trimmedPhrase()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    StripSettings settings;
    settings.text = text;
    QCOMPARE(settings.trimmedPhrase(), trimmed);
}

void TestStripSettings::radioValue_data()
{
    QTest::addColumn<QString>("valueString");
    QTest::addColumn<int>("value");
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("3") << "3" << 3;
    QTest::newRow("outside the items still converts") << "7" << 7;
    QTest::newRow("not a number selects nothing") << "x" << 0;
    QTest::newRow("empty selects nothing") << "" << 0;
}

void TestStripSettings::radioValue()
{
    QFETCH(QString, valueString);
    QFETCH(int, value);
    QCOMPARE(::radioValue(valueString), value);
}

void TestStripSettings::colourValueLayout()
{
    // Red lives in the low byte: the value the controls hand over for pure
    // blue is 16711680, for pure red 255; the top byte is ignored.
    QCOMPARE(fromQColor(QColor(0, 0, 255)), 16711680u);
    QCOMPARE(fromQColor(QColor(255, 0, 0)), 255u);
    QCOMPARE(toQColor(0xAB123456u), QColor(0x56, 0x34, 0x12));
}

QTEST_GUILESS_MAIN(TestStripSettings)
#include "tst_strip_settings.moc"
