#include "sticker/emoji_names.h"
#include "sticker/sticker_preset.h"
#include "sticker/sticker_tiles.h"

#include "composition/quillow_error.h"
#include "error_of.h"
#include "first_character_ink.h"
#include "laid_out_strip.h"

#include <QBuffer>
#include <QImageReader>
#include <QtTest>

#include <numeric>

Q_DECLARE_METATYPE(TileGrid)

namespace {

const QString kPhrase = QStringLiteral("友谊的小船说翻就翻");

StripLayout shout(const QString &text = kPhrase)
{
    StripSettings settings;
    settings.text = text;
    return laidOutStrip(settings);
}

// Every frame's delay as Qt's own reader of the file finds it.
QList<int> decodedDelays(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    QList<int> delays;
    QImage frame;
    while (reader.read(&frame))
        delays << reader.nextImageDelay();
    return delays;
}

// The whole shout shows in the last frame, whatever the effect.
QImage lastFrame(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    QImage frame;
    QImage last;
    while (reader.read(&frame))
        last = frame;
    return last.convertToFormat(QImage::Format_ARGB32);
}

// The tiles decoded and put back side by side, row under row.
QImage joined(const StickerTiles &made, int side)
{
    QImage banner(made.grid.columns * side, made.grid.rows * side, QImage::Format_ARGB32);
    banner.fill(Qt::transparent);
    for (std::size_t index = 0; index < made.tiles.size(); ++index) {
        const QImage tile = lastFrame(made.tiles[index].bytes);
        const int column = int(index) % made.grid.columns;
        const int row = int(index) / made.grid.columns;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                banner.setPixel(column * side + x, row * side + y, tile.pixel(x, y));
    }
    return banner;
}

} // namespace

class TestStickerTiles : public QObject {
    Q_OBJECT

private slots:
    void automaticTilesDrawTheShoutAtFullHeight();
    void askedGridsGiveThatManySquares_data();
    void askedGridsGiveThatManySquares();
    void tilesOverTheCapKeepOneTimeline();
    void refusals_data();
    void refusals();
    void gridTexts_data();
    void gridTexts();
    void tileNames_data();
    void tileNames();
    void givenNamesTheChatRefuses_data();
    void givenNamesTheChatRefuses();
};

void TestStickerTiles::automaticTilesDrawTheShoutAtFullHeight()
{
    StickerOptions options;
    options.preset = &findStickerPreset(QStringLiteral("discord-emoji"));
    const StickerTiles made = makeStickerTiles(shout(), Qt::black, options, {});

    // Nine characters from 30 to 110 points, drawn 128 pixels high, make a
    // banner about five squares long.
    QCOMPARE(made.grid.rows, 1);
    QVERIFY2(made.grid.columns >= 4 && made.grid.columns <= 6,
             qPrintable(QString::number(made.grid.columns)));
    QCOMPARE(int(made.tiles.size()), made.grid.columns);
    for (const Sticker &tile : made.tiles) {
        QCOMPARE(QImage::fromData(tile.bytes).size(), QSize(128, 128));
        QVERIFY(tile.cap && tile.bytes.size() <= *tile.cap);
    }
    const QImage banner = joined(made, 128);
    const int height = firstCharacterInkHeight(banner);
    QVERIFY2(height >= 24, qPrintable(QString::number(height)));
    // The banner is cut, not squeezed: its ink reaches across the last cut.
    QVERIFY(firstCharacterInkHeight(banner.copy(0, 0, 128, 128)) == height);
    QVERIFY(made.warnings.isEmpty());
}

void TestStickerTiles::askedGridsGiveThatManySquares_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<TileGrid>("grid");
    QTest::addColumn<int>("side");

    QTest::newRow("3x1 still emoji") << "discord-emoji"
                                     << "still" << TileGrid{3, 1} << 128;
    QTest::newRow("2x2 revealed emoji") << "slack"
                                        << "reveal" << TileGrid{2, 2} << 128;
    QTest::newRow("1x1 shaking emoji") << "discord-emoji"
                                       << "shake" << TileGrid{1, 1} << 128;
    QTest::newRow("4x4 still emoji") << "slack"
                                     << "still" << TileGrid{4, 4} << 128;
}

void TestStickerTiles::askedGridsGiveThatManySquares()
{
    QFETCH(QString, preset);
    QFETCH(QString, effect);
    QFETCH(TileGrid, grid);
    QFETCH(int, side);

    StickerOptions options;
    options.preset = preset.isEmpty() ? nullptr : &findStickerPreset(preset);
    options.effect = effectFromName(effect);
    const StickerTiles made = makeStickerTiles(shout(), Qt::black, options, grid);
    QCOMPARE(made.grid, grid);
    QCOMPARE(int(made.tiles.size()), grid.columns * grid.rows);
    const QList<int> delays = decodedDelays(made.tiles.front().bytes);
    for (const Sticker &tile : made.tiles) {
        QCOMPARE(QImage::fromData(tile.bytes).size(), QSize(side, side));
        QCOMPARE(decodedDelays(tile.bytes), delays);
    }
    // The shout ends at the bottom right, in the last tile.
    QVERIFY(firstCharacterInkHeight(lastFrame(made.tiles.back().bytes)) > 0);
}

void TestStickerTiles::tilesOverTheCapKeepOneTimeline()
{
    // A reveal's tiles differ in how much they show, so a tight cap asks
    // more of some than of others. What gives way is each tile's colours;
    // every tile keeps every step of the reveal and the same delays, so the
    // tiles play in step side by side.
    StickerOptions options;
    options.preset = &findStickerPreset(QStringLiteral("slack"));
    options.effect = Effect::Reveal;
    const StripLayout layout = shout();
    const StickerTiles uncapped = makeStickerTiles(layout, Qt::black, options, {});
    const QList<int> full = decodedDelays(uncapped.tiles.front().bytes);
    QCOMPARE(full.size(), 9);
    qint64 largest = 0;
    for (const Sticker &tile : uncapped.tiles)
        largest = std::max<qint64>(largest, tile.bytes.size());

    options.maxBytes = largest - 1;
    const StickerTiles made = makeStickerTiles(layout, Qt::black, options, {});
    QVERIFY2(!made.fitted.isEmpty(), "what was given up is said");
    for (const Sticker &tile : made.tiles) {
        QVERIFY(tile.bytes.size() <= *options.maxBytes);
        QCOMPARE(decodedDelays(tile.bytes), full);
    }
}

void TestStickerTiles::refusals_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<TileGrid>("grid");
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<QString>("message");

    const QString notSquare =
        QStringLiteral("只有能把表情并排发出的聊天预设（discord-emoji、slack）才能拆成多个表情");
    const QString badGrid = QStringLiteral("拆成的表情须为 1 到 10 列、1 到 4 行，或 auto（自动）");
    QTest::newRow("no preset") << "" << TileGrid{} << qint64(0) << notSquare;
    QTest::newRow("a preset of the strip's shape") << "wechat" << TileGrid{2, 1} << qint64(0) << notSquare;
    // Square, but the chat shows one sticker at a time.
    QTest::newRow("a sticker preset") << "discord-sticker" << TileGrid{2, 1} << qint64(0) << notSquare;
    QTest::newRow("emoji picked one by one") << "whatsapp" << TileGrid{2, 1} << qint64(0) << notSquare;
    QTest::newRow("no rows") << "slack" << TileGrid{3, 0} << qint64(0) << badGrid;
    QTest::newRow("eleven columns") << "slack" << TileGrid{11, 1} << qint64(0) << badGrid;
    QTest::newRow("five rows") << "slack" << TileGrid{1, 5} << qint64(0) << badGrid;
    QTest::newRow("a cap no tile meets")
        << "slack" << TileGrid{} << qint64(100)
        << QStringLiteral("贴纸无法压缩到 100 字节以内，请减少字数或去掉效果");
}

void TestStickerTiles::refusals()
{
    QFETCH(QString, preset);
    QFETCH(TileGrid, grid);
    QFETCH(qint64, maxBytes);
    QFETCH(QString, message);

    StickerOptions options;
    options.preset = preset.isEmpty() ? nullptr : &findStickerPreset(preset);
    if (maxBytes > 0)
        options.maxBytes = maxBytes;
    try {
        makeStickerTiles(shout(), Qt::black, options, grid);
        QFAIL("made");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

void TestStickerTiles::gridTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<TileGrid>("grid"); // {-1, -1}: refused

    QTest::newRow("auto") << "auto" << TileGrid{};
    QTest::newRow("three by one") << "3x1" << TileGrid{3, 1};
    QTest::newRow("capital X, spaced") << " 2X2 " << TileGrid{2, 2};
    QTest::newRow("times sign") << "10×4" << TileGrid{10, 4};
    QTest::newRow("zero by zero is not auto") << "0x0" << TileGrid{-1, -1};
    QTest::newRow("eleven columns") << "11x1" << TileGrid{-1, -1};
    QTest::newRow("one number") << "3" << TileGrid{-1, -1};
    QTest::newRow("negative") << "-1x2" << TileGrid{-1, -1};
    QTest::newRow("empty") << "" << TileGrid{-1, -1};
}

void TestStickerTiles::gridTexts()
{
    QFETCH(QString, text);
    QFETCH(TileGrid, grid);

    if (grid.columns < 0) {
        QVERIFY_THROWS_EXCEPTION(QuillowError, parseTileGrid(text));
        return;
    }
    QCOMPARE(parseTileGrid(text), grid);
    QCOMPARE(parseTileGrid(tileGridText(grid)), grid);
}

// Names as each chat takes them: the file is named as the emoji will be
// (uploading names the emoji after its file), and the paste text uses the
// same names.
void TestStickerTiles::tileNames_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("paste");

    QTest::newRow("Discord, from the output") << "discord-emoji"
                                              << ""
                                              << "shout.gif"
                                              << "shout_2.gif"
                                              << ":shout_1::shout_2::shout_3:";
    QTest::newRow("Slack, in a folder") << "slack"
                                        << ""
                                        << "/tmp/a b/yay.png"
                                        << "/tmp/a b/yay-2.png"
                                        << ":yay-1::yay-2::yay-3:";
    QTest::newRow("Discord, capitals kept") << "discord-emoji"
                                            << ""
                                            << "out/Yay.png"
                                            << "out/Yay_2.png"
                                            << ":Yay_1::Yay_2::Yay_3:";
    QTest::newRow("Slack, capitals: the fallback") << "slack"
                                                   << ""
                                                   << "out/Yay.png"
                                                   << "out/shout-2.png"
                                                   << ":shout-1::shout-2::shout-3:";
    QTest::newRow("Discord, dots: the fallback") << "discord-emoji"
                                                 << ""
                                                 << "my.shout.gif"
                                                 << "shout_2.gif"
                                                 << ":shout_1::shout_2::shout_3:";
    QTest::newRow("Discord, a Chinese name: the fallback") << "discord-emoji"
                                                           << ""
                                                           << "加油.gif"
                                                           << "shout_2.gif"
                                                           << ":shout_1::shout_2::shout_3:";
    QTest::newRow("Discord, 31 letters: too long with the number")
        << "discord-emoji"
        << "" << QString(31, QLatin1Char('a')) + QStringLiteral(".png") << "shout_2.png"
        << ":shout_1::shout_2::shout_3:";
    QTest::newRow("a name given wins") << "slack"
                                       << "go-team"
                                       << "out/shout.png"
                                       << "out/go-team-2.png"
                                       << ":go-team-1::go-team-2::go-team-3:";
    QTest::newRow("no suffix") << "discord-emoji"
                               << ""
                               << "out/shout"
                               << "out/shout_2"
                               << ":shout_1::shout_2::shout_3:";
}

void TestStickerTiles::tileNames()
{
    QFETCH(QString, preset);
    QFETCH(QString, given);
    QFETCH(QString, output);
    QFETCH(QString, second);
    QFETCH(QString, paste);

    const EmojiNameRule &rule = *findStickerPreset(preset).emojiNames;
    const QString base = tileBaseName(rule, given, output, 3);
    QCOMPARE(tileFilePath(rule, output, base, 2), second);
    QCOMPARE(tilePasteText(rule, base, 3), paste);
    for (int index = 1; index <= 3; ++index)
        QCOMPARE(emojiNameProblem(rule, tileEmojiName(rule, base, index)), QString());
}

// A name the chat would not take is refused with its rule.
void TestStickerTiles::givenNamesTheChatRefuses_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("given");

    QTest::newRow("Discord: a hyphen") << "discord-emoji"
                                       << "go-team";
    QTest::newRow("Discord: a dot") << "discord-emoji"
                                    << "go.team";
    QTest::newRow("Discord: 31 letters and _1 is 33") << "discord-emoji" << QString(31, QLatin1Char('a'));
    QTest::newRow("Slack: a capital") << "slack"
                                      << "Go";
    QTest::newRow("Slack: a space") << "slack"
                                    << "go team";
    QTest::newRow("Chinese") << "slack"
                             << "加油";
}

void TestStickerTiles::givenNamesTheChatRefuses()
{
    QFETCH(QString, preset);
    QFETCH(QString, given);
    const EmojiNameRule &rule = *findStickerPreset(preset).emojiNames;
    const QString message = errorOf([&] { tileBaseName(rule, given, QStringLiteral("a.png"), 3); });
    QVERIFY2(message.startsWith(QStringLiteral("表情名“")) && message.contains(QStringLiteral("须为")),
             qPrintable(message));
}

QTEST_MAIN(TestStickerTiles)
#include "tst_sticker_tiles.moc"
