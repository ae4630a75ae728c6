#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"
#include "laid_out_strip.h"
#include "transparent_border.h"

#include <QPainter>
#include <QtTest>

#include <map>
#include <set>

namespace {

StripLayout strip(const QString &text, ColourMode colours = ColourMode::Random)
{
    StripSettings settings;
    settings.text = text;
    settings.colourMode = colours;
    settings.horzAlign = HorzAlign::Centre;
    settings.vertAlign = VertAlign::Middle;
    return laidOutStrip(settings);
}

// The strip with only its first `count` cells, each where it was.
StripLayout firstCells(StripLayout layout, int count)
{
    layout.cells.resize(std::size_t(count));
    return layout;
}

// `picture` on a transparent canvas `margin` pixels larger on every side.
QImage onCanvas(const QImage &picture, int margin)
{
    QImage canvas(picture.width() + 2 * margin, picture.height() + 2 * margin,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(margin, margin, picture);
    return canvas;
}

// The colours of the fully opaque pixels, with how many pixels have each:
// with anti-aliasing, the cells' own colours.
std::map<QRgb, int> opaqueColours(const QImage &image)
{
    std::map<QRgb, int> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255)
                ++colours[pixel];
        }
    return colours;
}

} // namespace

class TestEffectFrames : public QObject {
    Q_OBJECT
private slots:
    void namesReadBack();
    void unknownNameIsRefused();
    void timingOutOfRangeIsRefused_data();
    void timingOutOfRangeIsRefused();
    void revealShowsTheFirstCellsOnly_data();
    void revealShowsTheFirstCellsOnly();
    void revealEndsOnThePngAlphaStill_data();
    void revealEndsOnThePngAlphaStill();
    void shakeMovesEachCharacterWithinReach_data();
    void shakeMovesEachCharacterWithinReach();
    void shakeKeepsTheColours();
    void shakeFollowsTheSeed();
    void revealShakeRevealsShakesTwiceAndHolds();
    void everyFrameTakesTheLook_data();
    void everyFrameTakesTheLook();
    void emptyStripHasNoFrames();
};

void TestEffectFrames::namesReadBack()
{
    QCOMPARE(effectNames(), QStringList({"still", "reveal", "shake", "reveal-shake"}));
    for (const Effect effect : {Effect::Still, Effect::Reveal, Effect::Shake, Effect::RevealShake}) {
        QCOMPARE(effectFromName(effectName(effect)), effect);
        QCOMPARE(effectFromName(QStringLiteral(" %1 ").arg(effectName(effect).toUpper())), effect);
    }
}

void TestEffectFrames::unknownNameIsRefused()
{
    try {
        effectFromName(QStringLiteral("bounce"));
        QFAIL("an unknown effect was accepted");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(),
                 QStringLiteral("动画效果只能是 still、reveal、shake、reveal-shake，而不是“bounce”。"));
    }
}

void TestEffectFrames::timingOutOfRangeIsRefused_data()
{
    QTest::addColumn<int>("frameMs");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<QString>("message");
    QTest::newRow("frame of 9 ms") << 9 << 1500 << "每帧时长必须是 10 到 10000 毫秒之间的整数，而不是 9。";
    QTest::newRow("frame of 10001 ms")
        << 10001 << 1500 << "每帧时长必须是 10 到 10000 毫秒之间的整数，而不是 10001。";
    QTest::newRow("negative hold") << 120 << -1 << "停留时长必须是 0 到 60000 毫秒之间的整数，而不是 -1。";
    QTest::newRow("hold of 60001 ms")
        << 120 << 60001 << "停留时长必须是 0 到 60000 毫秒之间的整数，而不是 60001。";
}

void TestEffectFrames::timingOutOfRangeIsRefused()
{
    QFETCH(int, frameMs);
    QFETCH(int, holdMs);
    QFETCH(QString, message);
    try {
        renderEffect(strip(QStringLiteral("加油")), Qt::black, Effect::Reveal, EffectTiming{frameMs, holdMs},
                     StickerLook{}, 1);
        QFAIL("a timing out of range was accepted");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
    // The edges themselves are fine.
    QVERIFY(renderEffect(strip(QStringLiteral("加油")), Qt::black, Effect::Reveal,
                         EffectTiming{kMinFrameMs, 0}, StickerLook{}, 1)
                .frames.size() == 2);
}

void TestEffectFrames::revealShowsTheFirstCellsOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("frameMs");
    QTest::addColumn<int>("holdMs");
    QTest::newRow("one character") << "喊" << 120 << 1500;
    QTest::newRow("three, slow") << "我们喊" << 400 << 0;
    QTest::newRow("ten, the longest") << "我们一起大声喊出来吧" << 120 << 1500;
}

void TestEffectFrames::revealShowsTheFirstCellsOnly()
{
    QFETCH(QString, text);
    QFETCH(int, frameMs);
    QFETCH(int, holdMs);
    const StripLayout layout = strip(text);
    const int n = int(layout.cells.size());
    const Animation animation =
        renderEffect(layout, Qt::black, Effect::Reveal, {frameMs, holdMs}, StickerLook{}, 7);

    QCOMPARE(int(animation.frames.size()), n);
    QCOMPARE(animation.loopCount, 0);
    for (int k = 1; k <= n; ++k) {
        const AnimationFrame &frame = animation.frames[std::size_t(k - 1)];
        QCOMPARE(frame.delayMs, k < n ? frameMs : frameMs + holdMs);
        QCOMPARE(frame.image.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(frame.image, renderStrip(firstCells(layout, k), StripGround::Transparent, Qt::black));
    }
}

void TestEffectFrames::revealEndsOnThePngAlphaStill_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("colours");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("random colours") << "友谊的小船说翻就翻" << int(ColourMode::Random) << false << 1.0;
    QTest::newRow("gradient, italic") << "fjWg我们Ag&1" << int(ColourMode::Gradient) << true << 1.0;
    QTest::newRow("default colour at ratio 2") << "我们一起喊" << int(ColourMode::Default) << false << 2.0;
    QTest::newRow("random at ratio 1.5") << "大声喊" << int(ColourMode::Random) << false << 1.5;
}

void TestEffectFrames::revealEndsOnThePngAlphaStill()
{
    QFETCH(QString, text);
    QFETCH(int, colours);
    QFETCH(bool, italic);
    QFETCH(qreal, ratio);
    StripSettings settings;
    settings.text = text;
    settings.colourMode = ColourMode(colours);
    settings.italic = italic;
    const StripLayout layout = laidOutStrip(settings);
    const QImage still = renderStrip(layout, StripGround::Transparent, Qt::black, ratio);

    const Animation reveal = renderEffect(layout, Qt::black, Effect::Reveal, {}, StickerLook{}, 42, ratio);
    QCOMPARE(reveal.frames.back().image, still);
    QCOMPARE(reveal.frames.back().image.devicePixelRatio(), ratio);
    const Animation stillEffect =
        renderEffect(layout, Qt::black, Effect::Still, {}, StickerLook{}, 42, ratio);
    QCOMPARE(int(stillEffect.frames.size()), 1);
    QCOMPARE(stillEffect.frames.front().image, still);
}

void TestEffectFrames::shakeMovesEachCharacterWithinReach_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::newRow("a Chinese character") << "喊" << false;
    QTest::newRow("a bold W") << "W" << true;
    QTest::newRow("an ampersand") << "&" << false;
}

// With one character, each shaken frame must be the character at rest moved
// by at most kShakeReach each way: not cut, not recoloured, not resampled.
void TestEffectFrames::shakeMovesEachCharacterWithinReach()
{
    QFETCH(QString, text);
    QFETCH(bool, bold);
    StripSettings settings;
    settings.text = text;
    settings.bold = bold;
    settings.colourMode = ColourMode::Random;
    settings.horzAlign = HorzAlign::Centre;
    settings.vertAlign = VertAlign::Middle;
    const StripLayout layout = laidOutStrip(settings);
    const QImage atRest = renderStrip(layout, StripGround::Transparent, Qt::black);

    for (const std::uint32_t seed : {1u, 2u, 3u, 99u}) {
        const Animation shake = renderEffect(layout, Qt::black, Effect::Shake, {}, StickerLook{}, seed);
        QCOMPARE(int(shake.frames.size()), kShakeFrames);
        std::set<std::pair<int, int>> shifts;
        for (const AnimationFrame &frame : shake.frames) {
            QCOMPARE(frame.delayMs, kShakeFrameMs);
            QCOMPARE(frame.image.size(), atRest.size() + QSize(2 * kShakeReach, 2 * kShakeReach));
            QVERIFY(borderIsTransparent(frame.image));
            bool found = false;
            for (int dy = -kShakeReach; dy <= kShakeReach && !found; ++dy)
                for (int dx = -kShakeReach; dx <= kShakeReach && !found; ++dx) {
                    QImage moved(frame.image.size(), QImage::Format_ARGB32_Premultiplied);
                    moved.fill(Qt::transparent);
                    QPainter painter(&moved);
                    painter.setCompositionMode(QPainter::CompositionMode_Source);
                    painter.drawImage(kShakeReach + dx, kShakeReach + dy, atRest);
                    painter.end();
                    if (moved == frame.image) {
                        found = true;
                        shifts.insert({dx, dy});
                    }
                }
            QVERIFY2(found, "a shaken frame is not the character at rest moved by at most 3 pixels");
        }
        // Six frames that mostly differ: the strip does tremble.
        QVERIFY(shifts.size() >= 3);
    }
}

// Where two neighbours shake into each other, their soft edges can blend
// into a few opaque pixels of a mixed colour; everything else keeps the
// colours of the strip at rest.
void TestEffectFrames::shakeKeepsTheColours()
{
    const StripLayout layout = strip(QStringLiteral("我们一起大声喊出来吧"));
    const std::map<QRgb, int> atRest =
        opaqueColours(renderStrip(layout, StripGround::Transparent, Qt::black));
    QCOMPARE(int(atRest.size()), 10);
    for (const Effect effect : {Effect::Shake, Effect::RevealShake}) {
        const Animation animation = renderEffect(layout, Qt::black, effect, {}, StickerLook{}, 5);
        for (const AnimationFrame &frame : animation.frames) {
            int kept = 0, mixed = 0;
            for (const auto &[colour, count] : opaqueColours(frame.image))
                (atRest.count(colour) ? kept : mixed) += count;
            QVERIFY2(mixed * 1000 <= kept, "a shaken frame changed the characters' colours");
        }
        QCOMPARE(opaqueColours(animation.frames.back().image), atRest);
    }
}

void TestEffectFrames::shakeFollowsTheSeed()
{
    const StripLayout layout = strip(QStringLiteral("我们一起喊"));
    const EffectPlan first = planEffect(layout, Effect::Shake, {}, 1234);
    QCOMPARE(first.margin, kShakeReach);
    std::set<int> seen;
    for (const FramePlan &frame : first.frames) {
        QCOMPARE(int(frame.poses.size()), 5);
        for (const CellPose &pose : frame.poses) {
            QVERIFY(pose.shown);
            QVERIFY(std::abs(pose.offset.x()) <= kShakeReach && std::abs(pose.offset.y()) <= kShakeReach);
            seen.insert(pose.offset.x());
            seen.insert(pose.offset.y());
        }
    }
    // 60 draws of seven values: every value turns up.
    QCOMPARE(int(seen.size()), 2 * kShakeReach + 1);

    const Animation a = renderEffect(layout, Qt::black, Effect::Shake, {}, StickerLook{}, 1234);
    const Animation b = renderEffect(layout, Qt::black, Effect::Shake, {}, StickerLook{}, 1234);
    const Animation other = renderEffect(layout, Qt::black, Effect::Shake, {}, StickerLook{}, 1235);
    int differing = 0;
    for (std::size_t f = 0; f < a.frames.size(); ++f) {
        QCOMPARE(a.frames[f].image, b.frames[f].image);
        differing += a.frames[f].image != other.frames[f].image;
    }
    QVERIFY(differing > 0);
}

void TestEffectFrames::revealShakeRevealsShakesTwiceAndHolds()
{
    const StripLayout layout = strip(QStringLiteral("大声喊出来"));
    const EffectTiming timing{100, 2000};
    const Animation animation =
        renderEffect(layout, Qt::black, Effect::RevealShake, timing, StickerLook{}, 8);
    const int n = 5;
    QCOMPARE(int(animation.frames.size()), n + 2 * kShakeFrames + 1);

    for (int k = 1; k <= n; ++k) {
        QCOMPARE(animation.frames[std::size_t(k - 1)].delayMs, timing.frameMs);
        QCOMPARE(
            animation.frames[std::size_t(k - 1)].image,
            onCanvas(renderStrip(firstCells(layout, k), StripGround::Transparent, Qt::black), kShakeReach));
    }
    for (int f = 0; f < kShakeFrames; ++f) {
        const AnimationFrame &first = animation.frames[std::size_t(n + f)];
        const AnimationFrame &second = animation.frames[std::size_t(n + kShakeFrames + f)];
        QCOMPARE(first.delayMs, kShakeFrameMs);
        QCOMPARE(second.delayMs, kShakeFrameMs);
        QCOMPARE(second.image, first.image);
    }
    QCOMPARE(animation.frames.back().delayMs, timing.holdMs);
    QCOMPARE(animation.frames.back().image,
             onCanvas(renderStrip(layout, StripGround::Transparent, Qt::black), kShakeReach));
    // The same shaking as the shake effect alone with that seed.
    const Animation shake = renderEffect(layout, Qt::black, Effect::Shake, timing, StickerLook{}, 8);
    QCOMPARE(animation.frames[std::size_t(n)].image, shake.frames.front().image);
}

void TestEffectFrames::everyFrameTakesTheLook_data()
{
    QTest::addColumn<int>("effect");
    QTest::addColumn<int>("growth"); // the strip's canvas grows by this on every side
    QTest::newRow("still") << int(Effect::Still) << 0;
    QTest::newRow("reveal") << int(Effect::Reveal) << 0;
    QTest::newRow("shake") << int(Effect::Shake) << kShakeReach;
    QTest::newRow("reveal-shake") << int(Effect::RevealShake) << kShakeReach;
}

void TestEffectFrames::everyFrameTakesTheLook()
{
    QFETCH(int, effect);
    QFETCH(int, growth);
    const StripLayout layout = strip(QStringLiteral("加油喊"));
    StickerLook look;
    look.outlineWidth = 3;
    look.shadow = true;
    const QMargins margins = stickerMargins(look);
    const Animation plain = renderEffect(layout, Qt::black, Effect(effect), {}, StickerLook{}, 3);
    const Animation dressed = renderEffect(layout, Qt::black, Effect(effect), {}, look, 3);

    QCOMPARE(dressed.frames.size(), plain.frames.size());
    const QSize canvas(layout.width + 2 * growth + margins.left() + margins.right(),
                       layout.height + 2 * growth + margins.top() + margins.bottom());
    for (std::size_t f = 0; f < plain.frames.size(); ++f) {
        QCOMPARE(dressed.frames[f].delayMs, plain.frames[f].delayMs);
        QCOMPARE(dressed.frames[f].image.size(), canvas);
        QCOMPARE(dressed.frames[f].image, applyStickerLook(plain.frames[f].image, look));
        QVERIFY(borderIsTransparent(dressed.frames[f].image));
    }
}

void TestEffectFrames::emptyStripHasNoFrames()
{
    const StripLayout layout = strip(QStringLiteral("   "));
    QCOMPARE(layout.width, 0);
    for (const Effect effect : {Effect::Still, Effect::Reveal, Effect::Shake, Effect::RevealShake})
        QVERIFY(renderEffect(layout, Qt::black, effect, {}, StickerLook{}, 1).frames.empty());
}

QTEST_MAIN(TestEffectFrames)
#include "tst_effect_frames.moc"
