#include "composition/ink.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"
#include "error_of.h"
#include "laid_out_strip.h"
#include "transparent_border.h"

#include <QFontDatabase>
#include <QPainter>
#include <QtTest>

namespace {

QImage transparentStrip(const QString &text, qreal ratio = 1.0)
{
    StripSettings settings;
    settings.text = text;
    settings.colourMode = ColourMode::Random;
    settings.horzAlign = HorzAlign::Centre;
    settings.vertAlign = VertAlign::Middle;
    return renderStrip(laidOutStrip(settings), StripGround::Transparent, Qt::black, ratio);
}

// Marks every pixel within `radius` (centre to centre) of a pixel that
// `selected` picks, by stamping a disc around each: slow and plain, unlike the
// distance transform it checks.
template <typename Pick>
std::vector<bool> within(const QImage &image, QPoint shift, QSize size, double radius, Pick selected)
{
    std::vector<bool> marks(std::size_t(size.width() * size.height()));
    const int reach = int(std::floor(radius));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (!selected(qAlpha(image.pixel(x, y))))
                continue;
            for (int dy = -reach; dy <= reach; ++dy)
                for (int dx = -reach; dx <= reach; ++dx) {
                    const int mx = x + shift.x() + dx, my = y + shift.y() + dy;
                    if (dx * dx + dy * dy <= radius * radius && mx >= 0 && my >= 0 && mx < size.width() &&
                        my < size.height())
                        marks[std::size_t(my * size.width() + mx)] = true;
                }
        }
    return marks;
}

// Whether some pixel of `glyphs` (a picture's own ink, more than half
// covered) can be reached from the border of `dressed` laid on `ground`
// through pixels that contrast with the ground by less than 3:1. None can
// when every glyph is enclosed by a line that reads. Pixels meet at edges
// and corners alike. `glyphs` is at `shift` in `dressed`.
bool glyphShowsThroughToTheGround(const QImage &dressed, const QImage &glyphs, QPoint shift,
                                  const QColor &ground)
{
    QImage shown(dressed.size(), QImage::Format_RGB32);
    shown.fill(ground);
    QImage pixels = dressed;
    pixels.setDevicePixelRatio(1.0);
    QPainter(&shown).drawImage(0, 0, pixels);
    const int w = shown.width(), h = shown.height();
    std::vector<bool> seen(std::size_t(w * h));
    std::vector<QPoint> todo;
    const auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h || seen[std::size_t(y * w + x)])
            return;
        seen[std::size_t(y * w + x)] = true;
        if (contrastRatio(QColor(shown.pixel(x, y)), ground) < 3.0)
            todo.push_back({x, y});
    };
    for (int x = 0; x < w; ++x) {
        visit(x, 0);
        visit(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        visit(0, y);
        visit(w - 1, y);
    }
    while (!todo.empty()) {
        const QPoint at = todo.back();
        todo.pop_back();
        const QPoint inGlyphs = at - shift;
        if (glyphs.rect().contains(inGlyphs) && qAlpha(glyphs.pixel(inGlyphs)) > 127)
            return true;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                visit(at.x() + dx, at.y() + dy);
    }
    return false;
}

} // namespace

class TestStickerLook : public QObject {
    Q_OBJECT
private slots:
    void marginsAreWhatTheLookNeeds_data();
    void marginsAreWhatTheLookNeeds();
    void outlineCoversTheStrokeAndNoMore_data();
    void outlineCoversTheStrokeAndNoMore();
    void outlineHasRoundJoins();
    void emojiGetsAnOutlineAroundItsShape();
    void pictureStaysUnchangedOnTop_data();
    void pictureStaysUnchangedOnTop();
    void shadowOfADotIsTheBlurKernel();
    void plainLookChangesNothing();
    void readableLookReadsOnLightAndDark_data();
    void readableLookReadsOnLightAndDark();
    void lookOutOfRangeIsRefused_data();
    void lookOutOfRangeIsRefused();
};

void TestStickerLook::marginsAreWhatTheLookNeeds_data()
{
    QTest::addColumn<int>("outline");
    QTest::addColumn<bool>("shadow");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<int>("blur");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QMargins>("margins"); // left, top, right, bottom
    QTest::newRow("plain") << 0 << false << QPoint(2, 2) << 3 << 1.0 << QMargins(0, 0, 0, 0);
    QTest::newRow("outline 3") << 3 << false << QPoint(2, 2) << 3 << 1.0 << QMargins(3, 3, 3, 3);
    QTest::newRow("outline 12") << 12 << false << QPoint(2, 2) << 3 << 1.0 << QMargins(12, 12, 12, 12);
    QTest::newRow("default shadow") << 0 << true << QPoint(2, 2) << 3 << 1.0 << QMargins(1, 1, 5, 5);
    QTest::newRow("outline 3, default shadow")
        << 3 << true << QPoint(2, 2) << 3 << 1.0 << QMargins(4, 4, 8, 8);
    QTest::newRow("shadow up and left, no blur")
        << 2 << true << QPoint(-4, -1) << 0 << 1.0 << QMargins(6, 3, 2, 2);
    QTest::newRow("shadow further than its blur")
        << 0 << true << QPoint(5, 0) << 2 << 1.0 << QMargins(0, 2, 7, 2);
    QTest::newRow("outline 3 at ratio 2") << 3 << false << QPoint(2, 2) << 3 << 2.0 << QMargins(6, 6, 6, 6);
    QTest::newRow("outline 3 at ratio 1.5") << 3 << false << QPoint(2, 2) << 3 << 1.5 << QMargins(5, 5, 5, 5);
}

void TestStickerLook::marginsAreWhatTheLookNeeds()
{
    QFETCH(int, outline);
    QFETCH(bool, shadow);
    QFETCH(QPoint, offset);
    QFETCH(int, blur);
    QFETCH(qreal, ratio);
    QFETCH(QMargins, margins);
    StickerLook look;
    look.outlineWidth = outline;
    look.shadow = shadow;
    look.shadowOffset = offset;
    look.shadowBlur = blur;
    QCOMPARE(stickerMargins(look, ratio), margins);

    const QImage picture = transparentStrip(QStringLiteral("喊"), ratio);
    const QImage dressed = applyStickerLook(picture, look);
    QCOMPARE(dressed.size(), picture.size().grownBy(margins));
    QCOMPARE(dressed.devicePixelRatio(), ratio);
    QCOMPARE(dressed.format(), QImage::Format_ARGB32_Premultiplied);
    // The margins are enough: nothing reaches the canvas's edge.
    QVERIFY(borderIsTransparent(dressed));
}

void TestStickerLook::outlineCoversTheStrokeAndNoMore_data()
{
    QTest::addColumn<int>("outline");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<bool>("shadow");
    QTest::newRow("1 px") << 1 << 1.0 << false;
    QTest::newRow("3 px") << 3 << 1.0 << false;
    QTest::newRow("12 px") << 12 << 1.0 << false;
    QTest::newRow("3 px at ratio 2") << 3 << 2.0 << false;
    QTest::newRow("3 px over a shadow") << 3 << 1.0 << true;
}

// Every pixel within PX - 1 of the glyph's solid part is fully the outline
// colour (or the glyph); nothing lies further than PX + 1 from any of the
// glyph's pixels, save the shadow.
void TestStickerLook::outlineCoversTheStrokeAndNoMore()
{
    QFETCH(int, outline);
    QFETCH(qreal, ratio);
    QFETCH(bool, shadow);
    const QImage picture = transparentStrip(QStringLiteral("加油喊"), ratio);
    StickerLook look;
    look.outlineWidth = outline;
    look.outlineColour = QColor(0x00, 0xFF, 0x80);
    look.shadow = shadow;
    const QImage dressed = applyStickerLook(picture, look);
    const QMargins margins = stickerMargins(look, ratio);
    const QPoint shift(margins.left(), margins.top());
    const double radius = outline * ratio;

    const auto must =
        within(picture, shift, dressed.size(), radius - 1, [](int alpha) { return alpha >= 128; });
    const auto may = within(picture, shift, dressed.size(), radius + 1, [](int alpha) { return alpha > 0; });
    int stroke = 0;
    for (int y = 0; y < dressed.height(); ++y)
        for (int x = 0; x < dressed.width(); ++x) {
            const std::size_t at = std::size_t(y * dressed.width() + x);
            const QPoint inPicture = QPoint(x, y) - shift;
            const bool onGlyph = picture.rect().contains(inPicture) && qAlpha(picture.pixel(inPicture)) > 0;
            if (must[at] && !onGlyph) {
                QCOMPARE(dressed.pixel(x, y), qRgb(0x00, 0xFF, 0x80));
                ++stroke;
            }
            if (!may[at] && !shadow)
                QCOMPARE(qAlpha(dressed.pixel(x, y)), 0);
        }
    // A 1 px stroke's pixels are all partly covered.
    QVERIFY(stroke > 0 || outline == 1);
    QVERIFY(borderIsTransparent(dressed));
}

// A mitred or square stroke would fill the corner; a round one leaves the
// pixels beyond PX + 1 of the corner empty. The square is an opaque picture
// of any colour: the outline follows coverage, not glyphs.
void TestStickerLook::outlineHasRoundJoins()
{
    QImage picture(40, 40, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter(&picture).fillRect(10, 10, 10, 10, QColor(200, 30, 30));
    StickerLook look;
    look.outlineWidth = 6;
    const QImage dressed = applyStickerLook(picture, look);
    QCOMPARE(dressed.size(), QSize(52, 52));

    // The square covers 16..25 on both axes now; its corner pixel is (25, 25).
    QCOMPARE(dressed.pixel(25, 25), qRgb(200, 30, 30));
    QCOMPARE(dressed.pixel(31, 20), qRgb(255, 255, 255)); // 6 to the right of the side
    QCOMPARE(qAlpha(dressed.pixel(32, 20)), 0);           // 7: beyond the stroke
    QCOMPARE(dressed.pixel(29, 29), qRgb(255, 255, 255)); // 5.7 from the corner
    QCOMPARE(qAlpha(dressed.pixel(30, 30)), 0);           // 7.1 from the corner
    QCOMPARE(qAlpha(dressed.pixel(31, 31)), 0);           // a square stroke's corner
}

void TestStickerLook::emojiGetsAnOutlineAroundItsShape()
{
    const QString family = QStringLiteral("Noto Color Emoji");
    QVERIFY2(QFontDatabase::families().contains(family), "scripts/bootstrap installs the colour emoji face");
    QImage picture(80, 80, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        QFont font(family);
        font.setPixelSize(48);
        painter.setFont(font);
        painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("💪"));
    }
    StickerLook look;
    look.outlineWidth = 3;
    const QImage dressed = applyStickerLook(picture, look);
    const auto must =
        within(picture, QPoint(3, 3), dressed.size(), 2, [](int alpha) { return alpha >= 128; });
    int stroke = 0;
    for (int y = 0; y < dressed.height(); ++y)
        for (int x = 0; x < dressed.width(); ++x) {
            const QPoint inPicture(x - 3, y - 3);
            if (must[std::size_t(y * dressed.width() + x)] && picture.rect().contains(inPicture) &&
                qAlpha(picture.pixel(inPicture)) == 0) {
                QCOMPARE(dressed.pixel(x, y), qRgb(255, 255, 255));
                ++stroke;
            }
        }
    QVERIFY2(stroke > 100, "the emoji has no outline around its shape");
}

void TestStickerLook::pictureStaysUnchangedOnTop_data()
{
    QTest::addColumn<int>("outline");
    QTest::addColumn<bool>("shadow");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<int>("blur");
    QTest::newRow("outline") << 4 << false << QPoint(2, 2) << 3;
    QTest::newRow("shadow") << 0 << true << QPoint(2, 2) << 3;
    QTest::newRow("both") << 3 << true << QPoint(2, 2) << 3;
    QTest::newRow("both, shadow up and left, wide blur") << 2 << true << QPoint(-6, -3) << 9;
}

// The cells inside are a pure translation: where the glyph is opaque its
// pixel is kept as it was, and nowhere is the picture thinner than before.
void TestStickerLook::pictureStaysUnchangedOnTop()
{
    QFETCH(int, outline);
    QFETCH(bool, shadow);
    QFETCH(QPoint, offset);
    QFETCH(int, blur);
    const QImage picture = transparentStrip(QStringLiteral("我们一起喊"));
    StickerLook look;
    look.outlineWidth = outline;
    look.shadow = shadow;
    look.shadowOffset = offset;
    look.shadowBlur = blur;
    const QImage dressed = applyStickerLook(picture, look);
    const QMargins margins = stickerMargins(look);
    int opaque = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb mine = picture.pixel(x, y);
            const QRgb there = dressed.pixel(x + margins.left(), y + margins.top());
            if (qAlpha(mine) == 255) {
                QCOMPARE(there, mine);
                ++opaque;
            }
            QVERIFY(qAlpha(there) >= qAlpha(mine));
        }
    QVERIFY(opaque > 1000);
}

// A single opaque pixel's shadow, moved clear of it: three box passes of
// radius 1 give the weights 1 3 6 7 6 3 1 (/27) each way, so the shadow's
// middle holds 128 x (7/27)^2 = 8.6 and its reach is exactly 3.
void TestStickerLook::shadowOfADotIsTheBlurKernel()
{
    QImage picture(1, 1, QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor(Qt::red));
    StickerLook look;
    look.shadow = true;
    look.shadowOffset = QPoint(-4, -4);
    look.shadowBlur = 3;
    const QImage dressed = applyStickerLook(picture, look);
    QCOMPARE(dressed.size(), QSize(8, 8)); // 7 on the left and the top
    QCOMPARE(dressed.pixel(7, 7), qRgb(255, 0, 0));
    QCOMPARE(dressed.pixel(3, 3), qRgba(0, 0, 0, 9));
    QCOMPARE(qAlpha(dressed.pixel(0, 3)), 1);                           // 128 x 7 / 27 / 27 = 1.2
    QCOMPARE(qAlpha(dressed.pixel(2, 3)), qAlpha(dressed.pixel(4, 3))); // symmetric
    QCOMPARE(qAlpha(dressed.pixel(7, 3)), 0);                           // beyond its reach
}

void TestStickerLook::plainLookChangesNothing()
{
    const QImage picture = transparentStrip(QStringLiteral("加油"));
    QCOMPARE(applyStickerLook(picture, StickerLook{}), picture);
    QVERIFY(applyStickerLook(QImage(), StickerLook{}).isNull());
}

void TestStickerLook::readableLookReadsOnLightAndDark_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<qreal>("ratio");
    for (const quint32 seed : {1u, 2u, 3u, 4u, 5u})
        QTest::newRow(qPrintable(QStringLiteral("random colours, seed %1").arg(seed)))
            << seed << false << 1.0;
    QTest::newRow("bold, seed 6") << 6u << true << 1.0;
    QTest::newRow("at ratio 1.5, seed 7") << 7u << false << 1.5;
}

// Random colours are often light, and a white outline alone vanishes on a
// white chat: the readable look must close every character off from a white
// ground and from a dark theme's #1E1E1E by a line of 3:1 contrast or more.
void TestStickerLook::readableLookReadsOnLightAndDark()
{
    QFETCH(quint32, seed);
    QFETCH(bool, bold);
    QFETCH(qreal, ratio);
    StripSettings settings;
    settings.text = QStringLiteral("我们一起大声喊出来吧");
    settings.faceName = QStringLiteral("WenQuanYi Micro Hei");
    settings.bold = bold;
    FontTextMeasurer measurer;
    StripLayout layout = computeStripLayout(settings, measurer, QSize());
    LcgColourSource colours(seed);
    applyColouring(layout, settings, colours);
    const QImage picture = renderStrip(layout, StripGround::Transparent, Qt::black, ratio);

    const StickerLook &look = readableStickerLook();
    const QImage dressed = applyStickerLook(picture, look);
    const QMargins margins = stickerMargins(look, ratio);
    for (const QColor &ground : {QColor(Qt::white), QColor(0x1E, 0x1E, 0x1E)})
        QVERIFY2(
            !glyphShowsThroughToTheGround(dressed, picture, QPoint(margins.left(), margins.top()), ground),
            qPrintable(ground.name()));
}

void TestStickerLook::lookOutOfRangeIsRefused_data()
{
    QTest::addColumn<int>("outline");
    QTest::addColumn<int>("blur");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QString>("message");
    QTest::newRow("outline 13") << 13 << 3 << QPoint(2, 2)
                                << "描边宽度必须是 0 到 12 之间的整数（像素），而不是 13。";
    QTest::newRow("outline -1") << -1 << 3 << QPoint(2, 2)
                                << "描边宽度必须是 0 到 12 之间的整数（像素），而不是 -1。";
    QTest::newRow("blur 21") << 0 << 21 << QPoint(2, 2)
                             << "阴影模糊半径必须是 0 到 20 之间的整数（像素），而不是 21。";
    QTest::newRow("offset -21") << 0 << 3 << QPoint(2, -21)
                                << "阴影偏移必须是 -20 到 20 之间的整数（像素），而不是 -21。";
    QTest::newRow("all at their limits") << 12 << 20 << QPoint(-20, 20) << "";
}

void TestStickerLook::lookOutOfRangeIsRefused()
{
    QFETCH(int, outline);
    QFETCH(int, blur);
    QFETCH(QPoint, offset);
    QFETCH(QString, message);
    StickerLook look;
    look.outlineWidth = outline;
    look.shadowBlur = blur;
    look.shadowOffset = offset;
    QCOMPARE(errorOf([&] { checkStickerLook(look); }), message);
}

QTEST_MAIN(TestStickerLook)
#include "tst_sticker_look.moc"
