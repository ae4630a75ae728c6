#include "sticker/sticker.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/strip_rendering.h"
#include "export/apng_reader.h"
#include "export/output_format.h"
#include "laid_out_strip.h"
#include "sticker/sticker_fit.h"
#include "sticker/sticker_preset.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

Q_DECLARE_METATYPE(StickerOptions)

namespace {

constexpr int kFullPaletteForTests = 256;
const QString kTen = QStringLiteral("我们一起大声喊出来吧");

StripLayout strip(const QString &phrase, int spacing = 0)
{
    StripSettings settings;
    settings.text = phrase;
    settings.spacing = spacing;
    return laidOutStrip(settings);
}

Sticker stickerOf(const QString &phrase, const StickerOptions &options, int spacing = 0)
{
    return makeSticker(strip(phrase, spacing), Qt::black, options);
}

StickerOptions withPreset(const QString &preset)
{
    StickerOptions options;
    if (!preset.isEmpty())
        options.preset = &findStickerPreset(preset);
    return options;
}

// A frame filled with one grey level, so that a test can tell frames apart.
AnimationFrame greyFrame(int level, int delayMs)
{
    QImage image(4, 3, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(level, level, level));
    return {image, delayMs};
}

int greyOf(const AnimationFrame &frame)
{
    return qRed(frame.image.pixel(0, 0));
}

// The coverage of every pixel of the sticker's last frame, added up.
qint64 inkOf(const Sticker &sticker)
{
    const QImage &image = sticker.shown.frames.back().image;
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ink += qAlpha(image.pixel(x, y));
    return ink;
}

int totalDelay(const Animation &animation)
{
    int total = 0;
    for (const AnimationFrame &frame : animation.frames)
        total += frame.delayMs;
    return total;
}

} // namespace

class TestSticker : public QObject {
    Q_OBJECT
private slots:
    void presetGivesItsSizeFormatAndCap_data();
    void presetGivesItsSizeFormatAndCap();
    void animatedPresetGivesItsFormat_data();
    void animatedPresetGivesItsFormat();
    void lineKeepsItsBoxAndPlays_data();
    void lineKeepsItsBoxAndPlays();
    void capBelowTheFileForcesTheSearch_data();
    void capBelowTheFileForcesTheSearch();
    void capThatCannotBeMetNamesIt();
    void fitFillsTheSideItMay_data();
    void fitFillsTheSideItMay();
    void naturalSizeIsKeptWithoutPreset();
    void redrawnStripKeepsColoursByIndex();
    void paddingCentresOnTransparentGround();
    void thinningKeepsEndsAndDuration_data();
    void thinningKeepsEndsAndDuration();
    void refusedOptionsNameTheProblem_data();
    void refusedOptionsNameTheProblem();
    void smallFirstCharacterWarns_data();
    void smallFirstCharacterWarns();
    void sameInputSameBytes_data();
    void sameInputSameBytes();
    void cancelStopsTheWork();
    void italicKeepsEveryStroke_data();
    void italicKeepsEveryStroke();
    void sameBytesWhateverWasDrawnBefore();
};

void TestSticker::presetGivesItsSizeFormatAndCap_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("outline");
    QTest::addColumn<QSize>("size"); // empty: one side exactly 512, the other at most 512
    QTest::addColumn<qint64>("cap");

    // One character is taller than wide: then the height is the side that
    // must be 512.
    const QSize telegram;
    for (const QString &phrase : {QStringLiteral("喊"), QStringLiteral("加油"), kTen}) {
        const QByteArray count = QByteArray::number(phrase.size());
        QTest::newRow("discord-emoji, " + count + " characters")
            << QStringLiteral("discord-emoji") << phrase << 0 << 0 << QSize(128, 128) << qint64(256 * 1024);
        QTest::newRow("discord-sticker, " + count + " characters")
            << QStringLiteral("discord-sticker") << phrase << 0 << 0 << QSize(320, 320) << qint64(512 * 1024);
        QTest::newRow("slack, " + count + " characters")
            << QStringLiteral("slack") << phrase << 0 << 0 << QSize(128, 128) << qint64(128 * 1000);
        QTest::newRow("telegram, " + count + " characters")
            << QStringLiteral("telegram") << phrase << 0 << 0 << telegram << qint64(512 * 1000);
    }
    // The outline's margin is part of the canvas that must fit.
    QTest::newRow("discord-emoji, ten characters, outline 12")
        << QStringLiteral("discord-emoji") << kTen << 0 << 12 << QSize(128, 128) << qint64(256 * 1024);
    QTest::newRow("telegram, one character, outline 5")
        << QStringLiteral("telegram") << QStringLiteral("喊") << 0 << 5 << telegram << qint64(512 * 1000);
    QTest::newRow("wechat, ten characters wider than 1000, outline 8")
        << QStringLiteral("wechat") << kTen << 36 << 8 << QSize(1000, 0) << qint64(1024 * 1024);
    // Ten characters 36 pixels apart run past 1000 pixels at 96 dpi.
    QTest::newRow("wechat, ten characters wider than 1000")
        << QStringLiteral("wechat") << kTen << 36 << 0 << QSize(1000, 0) << qint64(1024 * 1024);
    QTest::newRow("qq, ten characters wider than 1000")
        << QStringLiteral("qq") << kTen << 36 << 0 << QSize(1000, 0) << qint64(1024 * 1024);
}

void TestSticker::presetGivesItsSizeFormatAndCap()
{
    QFETCH(QString, preset);
    QFETCH(QString, phrase);
    QFETCH(int, spacing);
    QFETCH(int, outline);
    QFETCH(QSize, size);
    QFETCH(qint64, cap);

    StickerOptions options = withPreset(preset);
    options.look.outlineWidth = outline;
    const Sticker sticker = stickerOf(phrase, options, spacing);
    QVERIFY2(sticker.bytes.startsWith("\x89PNG\r\n\x1a\n"), "a still is a PNG");
    QCOMPARE(sticker.cap, std::optional<qint64>(cap));
    QVERIFY(sticker.bytes.size() <= cap);
    QCOMPARE(sticker.frames, 1);

    QImage decoded;
    QVERIFY(decoded.loadFromData(sticker.bytes));
    QCOMPARE(decoded.size(), sticker.size);
    if (size.isEmpty() && size.width() == 1000) {
        // Shrunk to 1000 at most, and not by more than a glyph's rounding.
        QVERIFY2(decoded.width() <= 1000 && decoded.width() >= 990,
                 qPrintable(QString::number(decoded.width())));
    } else if (size.isEmpty()) {
        const int longest = std::max(decoded.width(), decoded.height());
        QCOMPARE(longest, 512);
        QVERIFY(std::min(decoded.width(), decoded.height()) <= 512);
    } else {
        QCOMPARE(decoded.size(), size);
    }
}

void TestSticker::animatedPresetGivesItsFormat_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<int>("side");

    const QByteArray gif("GIF89a");
    const QByteArray png("\x89PNG\r\n\x1a\n");
    QTest::newRow("wechat reveal is a GIF")
        << QStringLiteral("wechat") << QStringLiteral("reveal") << gif << 0;
    QTest::newRow("qq shake is a GIF") << QStringLiteral("qq") << QStringLiteral("shake") << gif << 0;
    QTest::newRow("discord-emoji reveal is a 128 GIF")
        << QStringLiteral("discord-emoji") << QStringLiteral("reveal") << gif << 128;
    QTest::newRow("discord-sticker reveal-shake is a 320 APNG")
        << QStringLiteral("discord-sticker") << QStringLiteral("reveal-shake") << png << 320;
    QTest::newRow("slack reveal-shake is a 128 GIF of at most 50 frames")
        << QStringLiteral("slack") << QStringLiteral("reveal-shake") << gif << 128;
}

void TestSticker::animatedPresetGivesItsFormat()
{
    QFETCH(QString, preset);
    QFETCH(QString, effect);
    QFETCH(QByteArray, magic);
    QFETCH(int, side);

    StickerOptions options = withPreset(preset);
    options.effect = effectFromName(effect);
    options.look.outlineWidth = 3;
    const Sticker sticker = stickerOf(kTen, options);
    const StickerKind &rules = findStickerPreset(preset).animated;
    QVERIFY(sticker.bytes.startsWith(magic));
    QVERIFY(sticker.bytes.size() <= rules.cap.bytes());
    QVERIFY(sticker.frames > 1);
    QVERIFY(sticker.frames <= rules.maxFrames.value_or(sticker.frames));
    if (magic.startsWith("\x89PNG"))
        QVERIFY2(sticker.bytes.indexOf("acTL") > 0, "an animated PNG");
    // Qt reads the GIF's frames and the APNG's default image.
    QImage decoded;
    QVERIFY(decoded.loadFromData(sticker.bytes));
    if (side)
        QCOMPARE(decoded.size(), QSize(side, side));
    else
        QVERIFY(std::max(decoded.width(), decoded.height()) <= 1000);
}

void TestSticker::lineKeepsItsBoxAndPlays_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QString>("effect");
    const QStringList phrases = {QStringLiteral("喊"), QStringLiteral("Shout it"), QStringLiteral("加油💪🔥"),
                                 QStringLiteral("友谊的小船说翻就"), kTen};
    for (const QString &phrase : phrases)
        for (const char *effect : {"still", "reveal", "shake", "reveal-shake"})
            QTest::addRow("%s, %s", qPrintable(phrase), effect) << phrase << QString::fromLatin1(effect);
}

// Read back from the file: a still within 370 x 320 with its margin, a moving
// sticker filling 320 x 270 along one side, both with even sides; an
// animation of 5 to 20 frames played 1 to 4 times within 4 s, starting and
// ending on the finished picture, which LINE shows when it does not play.
void TestSticker::lineKeepsItsBoxAndPlays()
{
    QFETCH(QString, phrase);
    QFETCH(QString, effect);

    StickerOptions options = withPreset(QStringLiteral("line"));
    options.effect = effectFromName(effect);
    const bool moving = effect != QLatin1String("still");
    const Sticker sticker = stickerOf(phrase, options);
    QVERIFY(sticker.bytes.size() <= (moving ? 300'000 : 1'000'000));
    const ApngContents file = readApng(sticker.bytes);
    const QSize size(file.width, file.height);
    QCOMPARE(size, sticker.size);
    QVERIFY2(size.width() % 2 == 0 && size.height() % 2 == 0,
             qPrintable(QStringLiteral("%1 x %2").arg(file.width).arg(file.height)));

    if (!moving) {
        QCOMPARE(file.plays, -1);
        QVERIFY(size.width() <= 370 && size.height() <= 320);
        const QImage &image = file.defaultImage;
        QRect drawn;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) > 0)
                    drawn |= QRect(x, y, 1, 1);
        QVERIFY(!drawn.isEmpty());
        QVERIFY2(QRect(10, 10, size.width() - 20, size.height() - 20).contains(drawn),
                 qPrintable(QStringLiteral("drawn at %1,%2 %3 x %4")
                                .arg(drawn.x())
                                .arg(drawn.y())
                                .arg(drawn.width())
                                .arg(drawn.height())));
        return;
    }
    QVERIFY(size.width() <= 320 && size.height() <= 270);
    QVERIFY(size.width() == 320 || size.height() == 270);
    const int frames = int(file.frames.size());
    QVERIFY2(frames >= 5 && frames <= 20, qPrintable(QString::number(frames)));
    QCOMPARE(sticker.frames, frames);
    double cycleMs = 0;
    for (const ApngShownFrame &frame : file.frames)
        cycleMs += frame.delayMs;
    QVERIFY2(file.plays >= 1 && file.plays <= 4 && file.plays * cycleMs <= 4000,
             qPrintable(QStringLiteral("%1 plays of %2 ms").arg(file.plays).arg(cycleMs)));
    QCOMPARE(file.frames.front().image, file.frames.back().image);
    QVERIFY(file.defaultIsFrame);
    QCOMPARE(file.defaultImage, file.frames.front().image);
}

void TestSticker::capBelowTheFileForcesTheSearch_data()
{
    QTest::addColumn<QString>("effect");
    QTest::addColumn<double>("share"); // of the file made without a cap

    QTest::newRow("a still RGBA PNG one byte too large") << QStringLiteral("still") << 0.0;
    QTest::newRow("a still at half its size") << QStringLiteral("still") << 0.5;
    QTest::newRow("a reveal one byte too large") << QStringLiteral("reveal") << 0.0;
    QTest::newRow("a reveal at half its size") << QStringLiteral("reveal") << 0.5;
}

void TestSticker::capBelowTheFileForcesTheSearch()
{
    QFETCH(QString, effect);
    QFETCH(double, share);

    StickerOptions options = withPreset(QStringLiteral("discord-sticker"));
    options.effect = effectFromName(effect);
    const Sticker uncapped = stickerOf(kTen, options);
    const qint64 cap = share > 0 ? qint64(uncapped.bytes.size() * share) : uncapped.bytes.size() - 1;
    options.maxBytes = cap;
    const Sticker capped = stickerOf(kTen, options);

    QCOMPARE(capped.cap, std::optional(cap));
    QVERIFY2(capped.bytes.size() <= cap, qPrintable(QString::number(capped.bytes.size())));
    QVERIFY(capped.encodes > 1);
    QVERIFY2(capped.colours < kFullPaletteForTests || capped.frames < uncapped.frames ||
                 capped.format != uncapped.format,
             "something was given up");
    QCOMPARE(capped.size, QSize(320, 320));
    QCOMPARE(totalDelay(capped.shown), totalDelay(uncapped.shown));
    QImage decoded;
    QVERIFY(decoded.loadFromData(capped.bytes));
    QCOMPARE(decoded.size(), QSize(320, 320));
}

void TestSticker::capThatCannotBeMetNamesIt()
{
    StickerOptions options;
    options.effect = Effect::Reveal;
    options.maxBytes = 100;
    try {
        stickerOf(kTen, options);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("贴纸无法压缩到 100 字节以内，请减少字数或去掉效果"));
    }
}

void TestSticker::fitFillsTheSideItMay_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<int>("side");
    QTest::addColumn<QMargins>("margins");

    QTest::newRow("one character into 320") << QStringLiteral("我") << 320 << QMargins();
    QTest::newRow("ten characters into 128") << kTen << 128 << QMargins();
    QTest::newRow("ten characters into 512") << kTen << 512 << QMargins();
    QTest::newRow("three characters and a 12-pixel outline into 128")
        << QStringLiteral("加油吧") << 128 << QMargins(12, 12, 12, 12);
    QTest::newRow("shadow to the right and below into 320")
        << QStringLiteral("大声") << 320 << QMargins(1, 1, 7, 7);
}

void TestSticker::fitFillsTheSideItMay()
{
    QFETCH(QString, phrase);
    QFETCH(int, side);
    QFETCH(QMargins, margins);

    const StickerFit fit = fitStrip(strip(phrase), StickerSizeRule::Square, side, margins);
    QCOMPARE(fit.canvas, QSize(side, side));
    const int longest = std::max(fit.layout.width + margins.left() + margins.right(),
                                 fit.layout.height + margins.top() + margins.bottom());
    QVERIFY2(longest <= side, qPrintable(QString::number(longest)));
    // One step of the dpi changes one glyph by a pixel: the search must come
    // that close to the side, whatever the rounding.
    QVERIFY2(longest >= side - 4, qPrintable(QString::number(longest)));
}

void TestSticker::naturalSizeIsKeptWithoutPreset()
{
    const StripLayout layout = strip(QStringLiteral("我们一起喊"), 8);
    const Sticker sticker = makeSticker(layout, Qt::black, StickerOptions{});
    QCOMPARE(sticker.size, QSize(layout.width, layout.height));
    QCOMPARE(sticker.cap, std::nullopt);
    QVERIFY(sticker.warnings.isEmpty());
}

void TestSticker::redrawnStripKeepsColoursByIndex()
{
    StripLayout layout = strip(QStringLiteral("一二三"), 10);
    layout.cells[0].colour = colourValue(200, 10, 20);
    layout.cells[1].colour.reset();
    layout.cells[2].colour = colourValue(5, 6, 7);

    const StripLayout redrawn = layoutAtDpi(layout, 2 * kDesignDpi);
    QCOMPARE(redrawn.cells.size(), std::size_t(3));
    QCOMPARE(redrawn.cells[0].colour, std::optional(colourValue(200, 10, 20)));
    QCOMPARE(redrawn.cells[1].colour, std::nullopt);
    QCOMPARE(redrawn.cells[2].colour, std::optional(colourValue(5, 6, 7)));
    // Twice the dpi: the same strip at twice its size, spacing included,
    // give or take the rounding of each glyph.
    QVERIFY(std::abs(redrawn.width - 2 * layout.width) <= 3);
    QCOMPARE(redrawn.cells[1].x - redrawn.cells[0].width, 0);
    QVERIFY(std::abs((redrawn.cells[0].width) - 2 * layout.cells[0].width) <= 1);
}

void TestSticker::paddingCentresOnTransparentGround()
{
    Animation animation;
    animation.loopCount = 3;
    animation.frames = {greyFrame(40, 100), greyFrame(90, 200)};
    const Animation padded = centredOnCanvas(animation, QSize(7, 6));
    QCOMPARE(padded.loopCount, 3);
    QCOMPARE(padded.frames.size(), std::size_t(2));
    QCOMPARE(padded.frames[1].delayMs, 200);
    const QImage &image = padded.frames[1].image;
    QCOMPARE(image.size(), QSize(7, 6));
    // The 4 x 3 frame sits at (1, 1): odd pixels go right and below.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 1 && x < 5 && y >= 1 && y < 4;
            QCOMPARE(qAlpha(image.pixel(x, y)), inside ? 255 : 0);
        }
}

void TestSticker::thinningKeepsEndsAndDuration_data()
{
    QTest::addColumn<int>("revealFrames");
    QTest::addColumn<int>("after"); // frames that follow the reveal
    QTest::addColumn<int>("keep");

    QTest::newRow("ten down to two") << 10 << 0 << 2;
    QTest::newRow("ten down to four") << 10 << 0 << 4;
    QTest::newRow("nine down to eight") << 9 << 0 << 8;
    QTest::newRow("seven down to three, twelve shake frames after") << 7 << 12 << 3;
    QTest::newRow("keeping all changes nothing") << 5 << 2 << 5;
}

void TestSticker::thinningKeepsEndsAndDuration()
{
    QFETCH(int, revealFrames);
    QFETCH(int, after);
    QFETCH(int, keep);

    Animation animation;
    for (int i = 0; i < revealFrames + after; ++i)
        animation.frames.push_back(greyFrame(10 * i, i + 1 == revealFrames ? 1500 : 120 + i));
    const Animation thinned = withFewerRevealFrames(animation, revealFrames, keep);

    QCOMPARE(int(thinned.frames.size()), keep + after);
    QCOMPARE(totalDelay(thinned), totalDelay(animation));
    QCOMPARE(greyOf(thinned.frames.front()), 0);
    QCOMPARE(greyOf(thinned.frames[std::size_t(keep - 1)]), 10 * (revealFrames - 1));
    QCOMPARE(thinned.frames[std::size_t(keep - 1)].delayMs, 1500);
    for (int i = 1; i < keep; ++i)
        QVERIFY(greyOf(thinned.frames[std::size_t(i)]) > greyOf(thinned.frames[std::size_t(i - 1)]));
    for (int i = 0; i < after; ++i) {
        const AnimationFrame &kept = thinned.frames[std::size_t(keep + i)];
        QCOMPARE(greyOf(kept), 10 * (revealFrames + i));
        QCOMPARE(kept.delayMs, 120 + revealFrames + i);
    }
}

void TestSticker::refusedOptionsNameTheProblem_data()
{
    QTest::addColumn<StickerOptions>("options");
    QTest::addColumn<QString>("message");

    StickerOptions options = withPreset(QStringLiteral("telegram"));
    options.effect = Effect::Reveal;
    options.format = outputFormatNamed(u"gif");
    QTest::newRow("telegram animates as video only")
        << options << QStringLiteral("Telegram 贴纸的动画只接受 WEBM 格式");
    options = withPreset(QStringLiteral("whatsapp"));
    options.format = outputFormatNamed(u"png-alpha");
    QTest::newRow("whatsapp takes WebP only") << options << QStringLiteral("WhatsApp 贴纸只接受 WebP 格式");
    // Two characters at 120 ms, then the whole strip for a minute.
    options.format = nullptr;
    options.effect = Effect::Reveal;
    options.timing.holdMs = 60000;
    QTest::newRow("whatsapp plays 10 seconds at most")
        << options
        << QStringLiteral("WhatsApp 贴纸的动画最长 10 秒，这个效果要 60240 毫秒：请缩短停留时长或每帧时长");
    options = withPreset(QStringLiteral("discord-emoji"));
    options.format = outputFormatNamed(u"webp");
    QTest::newRow("discord emoji takes no WebP") << options << QStringLiteral("Discord 表情只接受 PNG 格式");
    options = withPreset(QStringLiteral("discord-sticker"));
    options.effect = Effect::Reveal;
    options.format = outputFormatNamed(u"gif");
    QTest::newRow("discord sticker animates as APNG only")
        << options << QStringLiteral("Discord 贴纸的动画只接受 APNG 格式");
    // The window's white-ground pictures have their own writers.
    for (const char16_t *windowFormat : {u"png", u"bmp"}) {
        options = StickerOptions{};
        options.format = outputFormatNamed(windowFormat);
        QTest::newRow(qPrintable("not a sticker format: " + QString(options.format->name)))
            << options << QStringLiteral("未知的贴纸格式“%1”").arg(QString(options.format->name));
    }
    options = StickerOptions{};
    options.effect = Effect::Reveal;
    options.format = outputFormatNamed(u"png-alpha");
    QTest::newRow("an RGBA PNG does not animate")
        << options
        << QStringLiteral("格式 png-alpha 是静态图，不能做动画效果 reveal：请用 apng、gif、webp 或 webm。");
    options = StickerOptions{};
    options.maxBytes = 0;
    QTest::newRow("a cap of no bytes") << options << QStringLiteral("文件大小上限须大于 0 字节");
}

void TestSticker::refusedOptionsNameTheProblem()
{
    QFETCH(StickerOptions, options);
    QFETCH(QString, message);
    try {
        stickerOf(QStringLiteral("加油"), options);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

void TestSticker::smallFirstCharacterWarns_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<bool>("warns");

    QTest::newRow("ten characters in 128 pixels") << QStringLiteral("slack") << kTen << true;
    QTest::newRow("ten characters in 512 pixels") << QStringLiteral("telegram") << kTen << false;
    QTest::newRow("two characters in 128 pixels")
        << QStringLiteral("discord-emoji") << QStringLiteral("加油") << false;
}

void TestSticker::smallFirstCharacterWarns()
{
    QFETCH(QString, preset);
    QFETCH(QString, phrase);
    QFETCH(bool, warns);
    const Sticker sticker = stickerOf(phrase, withPreset(preset));
    QCOMPARE(sticker.warnings.size(), warns ? 1 : 0);
    if (warns)
        QVERIFY2(sticker.warnings.front().contains(QStringLiteral("建议减少字数")),
                 qPrintable(sticker.warnings.front()));
    QVERIFY(!sticker.bytes.isEmpty());
}

void TestSticker::sameInputSameBytes_data()
{
    QTest::addColumn<QString>("preset");
    QTest::newRow("no preset") << QString();
    for (const StickerPreset &preset : stickerPresets())
        QTest::newRow(qPrintable(preset.name)) << preset.name;
}

void TestSticker::sameInputSameBytes()
{
    QFETCH(QString, preset);
    const Sticker first = stickerOf(QStringLiteral("友谊的小船"), withPreset(preset));
    const Sticker second = stickerOf(QStringLiteral("友谊的小船"), withPreset(preset));
    QCOMPARE(first.bytes, second.bytes);
}

void TestSticker::cancelStopsTheWork()
{
    const std::atomic<bool> cancel = true;
    QVERIFY_THROWS_EXCEPTION(
        StickerCancelled,
        makeSticker(strip(kTen), Qt::black, withPreset(QStringLiteral("discord-sticker")), &cancel));
}

void TestSticker::italicKeepsEveryStroke_data()
{
    QTest::addColumn<bool>("bold");
    QTest::addColumn<int>("outline");
    QTest::addColumn<int>("rows");
    QTest::newRow("plain") << false << 0 << 1;
    QTest::newRow("bold") << true << 0 << 1;
    QTest::newRow("outline 3") << false << 3 << 1;
    QTest::newRow("bold, outline 2, two rows") << true << 2 << 2;
}

// A slant leans a glyph's top beyond its cell. The strip cuts it there; a
// sticker makes room for it, so that the italic has as much ink as the
// upright (a shear keeps areas) and its outline runs round every stroke.
void TestSticker::italicKeepsEveryStroke()
{
    QFETCH(bool, bold);
    QFETCH(int, outline);
    QFETCH(int, rows);
    StripSettings settings;
    settings.text = QStringLiteral("翻翻翻");
    settings.bold = bold;
    StickerOptions options;
    options.format = outputFormatNamed(u"png-alpha");
    options.look.outlineWidth = outline;
    options.rows = rows;
    const Sticker upright = makeSticker(laidOutStrip(settings), Qt::black, options);
    settings.italic = true;
    const Sticker italic = makeSticker(laidOutStrip(settings), Qt::black, options);

    QVERIFY2(inkOf(italic) * 100 >= inkOf(upright) * 98,
             qPrintable(QStringLiteral("italic %1, upright %2").arg(inkOf(italic)).arg(inkOf(upright))));
    QVERIFY(italic.size.width() > upright.size.width());
}

// The window makes stickers on a worker thread that has drawn other text;
// the command line makes them in a fresh process. Text drawn earlier on the
// calling thread must not move a single pixel of the sticker.
void TestSticker::sameBytesWhateverWasDrawnBefore()
{
    StripSettings settings;
    settings.text = QStringLiteral("j我一二三四五六");
    settings.horzAlign = HorzAlign::Centre;
    const StripLayout layout = laidOutStrip(settings);
    StickerOptions options;
    options.effect = Effect::Reveal;
    options.format = outputFormatNamed(u"apng");
    const Sticker before = makeSticker(layout, Qt::black, options);

    QImage scratch(layout.width, layout.height, QImage::Format_ARGB32_Premultiplied);
    scratch.fill(Qt::transparent);
    QPainter painter(&scratch);
    paintStrip(painter, layout, StripGround::Transparent, Qt::black);
    painter.end();

    QCOMPARE(makeSticker(layout, Qt::black, options).bytes, before.bytes);
}

QTEST_MAIN(TestSticker)
#include "tst_sticker.moc"
