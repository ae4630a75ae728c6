#include "sticker/sticker.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "export/output_format.h"
#include "first_character_ink.h"
#include "laid_out_strip.h"
#include "sticker/sticker_preset.h"

#include <QImage>
#include <QtTest>

namespace {

const QString kPhrase = QStringLiteral("友谊的小船说翻就翻");

QImage decoded(const Sticker &sticker)
{
    return QImage::fromData(sticker.bytes).convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestStickerRows : public QObject {
    Q_OBJECT

private slots:
    void rowsMakeTheFirstCharacterReadable_data();
    void rowsMakeTheFirstCharacterReadable();
    void oneRowAskedIsTheDefaultOfAWidePreset();
    void rowsOutsideTheRangeAreRefused();
};

void TestStickerRows::rowsMakeTheFirstCharacterReadable_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<int>("atLeast");
    QTest::addColumn<int>("atMost");

    // One row is a thin line across the square. Rows at best about double
    // it: even set by their ink, lines of sizes 30 to 110 points growing in
    // reading order cannot fill the square more tightly. With the first
    // character 13 pixels high the last is 48, and the three lines (up to
    // 60, 90 and 110 points) already stack 122 pixels of ink.
    QTest::newRow("one row") << 1 << QStringLiteral("still") << 5 << 7;
    QTest::newRow("two rows") << 2 << QStringLiteral("still") << 10 << 13;
    QTest::newRow("three rows") << 3 << QStringLiteral("still") << 12 << 13;
    QTest::newRow("four rows") << 4 << QStringLiteral("still") << 12 << 13;
    QTest::newRow("auto") << 0 << QStringLiteral("still") << 12 << 13;
    QTest::newRow("auto, reveal") << 0 << QStringLiteral("reveal") << 12 << 13;
}

void TestStickerRows::rowsMakeTheFirstCharacterReadable()
{
    QFETCH(int, rows);
    QFETCH(QString, effect);
    QFETCH(int, atLeast);
    QFETCH(int, atMost);

    StripSettings settings;
    settings.text = kPhrase;
    StickerOptions options;
    options.preset = &findStickerPreset(QStringLiteral("discord-emoji"));
    options.effect = effectFromName(effect);
    options.rows = rows;
    const Sticker sticker = makeSticker(laidOutStrip(settings), Qt::black, options);
    // The last frame of a reveal shows every character.
    QImage image = decoded(sticker);
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(sticker.cap && sticker.bytes.size() <= *sticker.cap);
    if (effect != QLatin1String("still")) {
        QCOMPARE(sticker.shown.frames.size(), std::size_t(sticker.frames));
        image = sticker.shown.frames.back().image.convertToFormat(QImage::Format_ARGB32);
    }
    const int height = firstCharacterInkHeight(image);
    QVERIFY2(height >= atLeast && height <= atMost, qPrintable(QString::number(height)));
}

void TestStickerRows::oneRowAskedIsTheDefaultOfAWidePreset()
{
    // WeChat's canvas follows the strip's shape, so rows would not enlarge
    // the characters: the default stays one row, byte for byte.
    StripSettings settings;
    settings.text = kPhrase;
    StickerOptions options;
    options.preset = &findStickerPreset(QStringLiteral("wechat"));
    const StripLayout layout = laidOutStrip(settings);
    const Sticker automatic = makeSticker(layout, Qt::black, options);
    options.rows = 1;
    QCOMPARE(makeSticker(layout, Qt::black, options).bytes, automatic.bytes);
}

void TestStickerRows::rowsOutsideTheRangeAreRefused()
{
    StripSettings settings;
    settings.text = kPhrase;
    StickerOptions options;
    for (const int rows : {-1, 5}) {
        options.rows = rows;
        QVERIFY_THROWS_EXCEPTION(QuillowError, makeSticker(laidOutStrip(settings), Qt::black, options));
    }
}

QTEST_MAIN(TestStickerRows)
#include "tst_sticker_rows.moc"
