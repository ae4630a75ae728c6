#include "export/apng_writer.h"

#include "animation_checks.h"

#include "composition/quillow_error.h"
#include "export/apng_reader.h"

#include <QtTest>

namespace {

const Patch kRedBlock{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};
const Patch kSoftBlue{QRect(12, 4, 9, 12), qRgba(20, 40, 230, 128)};
const Patch kGreenBlock{QRect(24, 1, 12, 20), qRgba(10, 160, 60, 255)};
const Patch kSoftEdge{QRect(24, 21, 12, 2), qRgba(10, 160, 60, 64)};

// A 32 x 16 opaque frame in 256 colours, each 2 pixels wide; `shift` moves
// the colours of the top rows along.
AnimationFrame fullPalette(int shift, int delayMs)
{
    QImage image(32, 16, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) {
            const int colour = (y * 16 + x / 2 + (y < 4 ? shift : 0)) % 256;
            image.setPixel(x, y, qRgb(colour, 255 - colour, (colour * 7) % 256));
        }
    return {image, delayMs};
}

ApngContents decoded(const EncodedAnimation &encoded)
{
    try {
        return readApng(encoded.bytes);
    } catch (const std::runtime_error &error) {
        qFatal("the APNG does not read: %s", error.what());
    }
}

} // namespace

class TestApngWriter : public QObject {
    Q_OBJECT
private slots:
    void showsExactlyTheFramesGiven_data();
    void showsExactlyTheFramesGiven();
    void realRevealIsExactInRgba();
    void realRevealKeepsItsLook();
    void refusesWhatItCannotWrite_data();
    void refusesWhatItCannotWrite();
};

using Frames = std::vector<AnimationFrame>;

void TestApngWriter::showsExactlyTheFramesGiven_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<bool>("startWithLastFrame");
    QTest::addColumn<int>("minPaletteQuality");

    const Frames reveal = {patches({kRedBlock}, 120), patches({kRedBlock, kSoftBlue}, 120),
                           patches({kRedBlock, kSoftBlue, kGreenBlock, kSoftEdge}, 1500)};
    const Frames shake = {
        patches({moved(kRedBlock, 1, 0), kSoftBlue}, 60), patches({moved(kRedBlock, -1, 2), kSoftBlue}, 60),
        patches({kRedBlock, moved(kSoftBlue, 2, -2)}, 60), patches({kRedBlock, kSoftBlue}, 60)};
    // Soft pixels turning into other soft pixels, and back to nothing: only
    // "source" blending gives those exactly.
    const Frames fade = {patches({kSoftBlue, kSoftEdge}, 100), patches({moved(kSoftBlue, 1, 1)}, 100),
                         patches({kSoftEdge, kGreenBlock}, 100)};
    const Frames repeated = {patches({kRedBlock}, 100), patches({kRedBlock}, 100),
                             patches({kRedBlock, kGreenBlock}, 100)};

    QTest::newRow("reveal looping forever starts at the whole picture") << reveal << 0 << true << 90;
    QTest::newRow("reveal played twice keeps its order") << reveal << 2 << true << 90;
    QTest::newRow("reveal in its given order when asked") << reveal << 0 << false << 90;
    QTest::newRow("shake") << shake << 0 << true << 90;
    QTest::newRow("soft pixels change and vanish") << fade << 0 << true << 90;
    QTest::newRow("a frame equal to the one before") << repeated << 0 << true << 90;
    QTest::newRow("reveal in RGBA") << reveal << 0 << true << 101;
    QTest::newRow("shake in RGBA, played once") << shake << 1 << true << 101;
    QTest::newRow("one frame") << Frames{patches({kRedBlock, kSoftEdge}, 0)} << 0 << true << 90;
    // 256 opaque colours fill the palette: no entry is left for "unchanged".
    // The first frame is the last one, so it is the default image.
    QTest::newRow("opaque frames filling every palette entry")
        << Frames{fullPalette(0, 100), fullPalette(1, 100), fullPalette(0, 200)} << 0 << true << 90;
}

void TestApngWriter::showsExactlyTheFramesGiven()
{
    QFETCH(Frames, frames);
    QFETCH(int, loopCount);
    QFETCH(bool, startWithLastFrame);
    QFETCH(int, minPaletteQuality);
    const Animation animation{frames, loopCount};
    ApngOptions options;
    options.startWithLastFrame = startWithLastFrame;
    options.minPaletteQuality = minPaletteQuality;

    const EncodedAnimation encoded = encodeApng(animation, options);
    const ApngContents file = decoded(encoded);

    QCOMPARE(encoded.frames, int(frames.size()));
    QCOMPARE(file.colourType, minPaletteQuality > 100 ? 6 : 3);
    QCOMPARE(encoded.quality >= 0, minPaletteQuality <= 100);
    QCOMPARE(file.plays, loopCount);
    QCOMPARE(file.frames.size(), frames.size());
    // A viewer without APNG support shows the whole picture.
    QCOMPARE(firstDifference(file.defaultImage, frames.back().image), QString());

    // Looping forever, the file may show the same cycle from its last frame;
    // a first frame equal to the last one is the default image as it is.
    const bool firstIsLast = frames.front().image == frames.back().image;
    const bool rotated = loopCount == 0 && startWithLastFrame && !firstIsLast;
    QCOMPARE(file.defaultIsFrame, rotated || firstIsLast);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::size_t given = rotated ? (i + frames.size() - 1) % frames.size() : i;
        QVERIFY2(firstDifference(file.frames[i].image, frames[given].image).isEmpty(),
                 qPrintable(QStringLiteral("frame %1 (given %2): %3")
                                .arg(i)
                                .arg(given)
                                .arg(firstDifference(file.frames[i].image, frames[given].image))));
        QCOMPARE(file.frames[i].delayMs, double(frames[given].delayMs));
    }
}

// In RGBA nothing is lost, so a real reveal, antialiased edges and all, must
// come back pixel for pixel.
void TestApngWriter::realRevealIsExactInRgba()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    ApngOptions options;
    options.minPaletteQuality = 101;
    const ApngContents file = decoded(encodeApng(reveal, options));
    QCOMPARE(file.frames.size(), reveal.frames.size());
    const std::size_t count = reveal.frames.size();
    for (std::size_t i = 0; i < count; ++i) {
        const QString difference =
            firstDifference(file.frames[i].image, reveal.frames[(i + count - 1) % count].image);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
}

// With the shared palette the frames are close to the strip on a light and
// a dark chat, and what a frame hides is truly gone.
void TestApngWriter::realRevealKeepsItsLook()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    const EncodedAnimation encoded = encodeApng(reveal);
    const ApngContents file = decoded(encoded);
    QCOMPARE(file.colourType, 3);
    QVERIFY(encoded.quality >= kApngMinPaletteQuality);
    const std::size_t count = reveal.frames.size();
    for (std::size_t i = 0; i < count; ++i) {
        const QImage &given = reveal.frames[(i + count - 1) % count].image;
        for (const QColor ground : {QColor(Qt::white), QColor(0x1E, 0x1E, 0x1E)})
            QVERIFY2(shareWithin(file.frames[i].image, given, ground, 8) >= 0.99,
                     qPrintable(QStringLiteral("frame %1 on %2").arg(i).arg(ground.name())));
        const QImage shownAlpha = file.frames[i].image;
        for (int y = 0; y < given.height(); ++y)
            for (int x = 0; x < given.width(); ++x)
                if (qAlpha(given.pixel(x, y)) == 0)
                    QCOMPARE(qAlpha(shownAlpha.pixel(x, y)), 0);
    }
}

void TestApngWriter::refusesWhatItCannotWrite_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("maxColours");
    QTest::addColumn<QString>("message");
    const AnimationFrame small = patches({kRedBlock}, 100);
    AnimationFrame other{QImage(3, 3, QImage::Format_ARGB32_Premultiplied), 100};
    other.image.fill(Qt::black);
    QTest::newRow("no frames") << Frames{} << 256 << QStringLiteral("动画没有任何帧，无法保存。");
    QTest::newRow("frames of two sizes")
        << Frames{small, other} << 256 << QStringLiteral("动画各帧的大小不一致，无法保存。");
    QTest::newRow("a null frame") << Frames{small, AnimationFrame{QImage(), 100}} << 256
                                  << QStringLiteral("图片为空（宽度或高度为 0），无法保存。");
    QTest::newRow("a negative delay")
        << Frames{patches({kRedBlock}, -1)} << 256 << QStringLiteral("帧的时长 -1 毫秒超出范围，无法保存。");
    QTest::newRow("a delay beyond 65535 ms") << Frames{patches({kRedBlock}, 65536)} << 256
                                             << QStringLiteral("帧的时长 65536 毫秒超出范围，无法保存。");
    QTest::newRow("one colour") << Frames{small} << 1
                                << QStringLiteral("调色板颜色数 1 超出范围（应为 2 到 256）。");
    QTest::newRow("257 colours") << Frames{small} << 257
                                 << QStringLiteral("调色板颜色数 257 超出范围（应为 2 到 256）。");
}

void TestApngWriter::refusesWhatItCannotWrite()
{
    QFETCH(Frames, frames);
    QFETCH(int, maxColours);
    QFETCH(QString, message);
    ApngOptions options;
    options.maxColours = maxColours;
    try {
        encodeApng(Animation{frames, 0}, options);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

QTEST_MAIN(TestApngWriter)
#include "tst_apng_writer.moc"
