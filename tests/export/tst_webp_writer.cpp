#include "export/webp_writer.h"

#include "animation_checks.h"
#include "webp_chunks.h"

#include "composition/quillow_error.h"

#include <QtTest>

#include <webp/decode.h>
#include <webp/demux.h>

#include <memory>

namespace {

const Patch kRedBlock{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};
const Patch kSoftBlue{QRect(12, 4, 9, 12), qRgba(20, 40, 230, 128)};
const Patch kGreenBlock{QRect(24, 1, 12, 20), qRgba(10, 160, 60, 255)};

struct DecodedWebp {
    std::vector<QImage> frames; // Format_ARGB32, straight alpha
    std::vector<int> delaysMs;
    int loopCount = -1;
};

struct DecoderRelease {
    void operator()(WebPAnimDecoder *decoder) const { WebPAnimDecoderDelete(decoder); }
};

// libwebp's own animation decoder, frame by frame.
DecodedWebp decodeWithLibwebp(const QByteArray &bytes)
{
    WebPData data{reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(bytes.size())};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        qFatal("WebPAnimDecoderOptionsInit");
    options.color_mode = MODE_BGRA; // straight alpha, the byte order of QImage::Format_ARGB32
    const std::unique_ptr<WebPAnimDecoder, DecoderRelease> decoder(WebPAnimDecoderNew(&data, &options));
    DecodedWebp decoded;
    if (!decoder)
        return decoded;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info))
        return decoded;
    decoded.loopCount = int(info.loop_count);
    int previous = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        std::uint8_t *pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
            break;
        const QImage frame(pixels, int(info.canvas_width), int(info.canvas_height), QImage::Format_ARGB32);
        decoded.frames.push_back(frame.copy());
        decoded.delaysMs.push_back(timestamp - previous);
        previous = timestamp;
    }
    return decoded;
}

// libwebp's decoder of still files (what dwebp uses), which refuses an
// animation; a null image when it does.
QImage decodeStill(const QByteArray &bytes)
{
    int width = 0;
    int height = 0;
    std::uint8_t *pixels = WebPDecodeBGRA(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                          std::size_t(bytes.size()), &width, &height);
    if (!pixels)
        return {};
    const QImage image = QImage(pixels, width, height, QImage::Format_ARGB32).copy();
    WebPFree(pixels);
    return image;
}

} // namespace

class TestWebpWriter : public QObject {
    Q_OBJECT
private slots:
    void losslessShowsExactlyTheFramesGiven_data();
    void losslessShowsExactlyTheFramesGiven();
    void lossyStaysClose();
    void onePictureIsAStill_data();
    void onePictureIsAStill();
    void refusesAQualityOutOfRange();
    void frameTimesAreChecked_data();
    void frameTimesAreChecked();
    void frameTimesRefuseWhatIsNotWebp();
};

using Frames = std::vector<AnimationFrame>;

void TestWebpWriter::losslessShowsExactlyTheFramesGiven_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<bool>("keepEveryFrame");
    QTest::addColumn<Frames>("expected"); // what the file holds

    const Frames reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻"))).frames;
    QTest::newRow("a real reveal, soft edges and all") << reveal << 0 << false << reveal;
    const Frames shake = {patches({moved(kRedBlock, 1, 0), kSoftBlue}, 60),
                          patches({kRedBlock, kSoftBlue}, 60),
                          patches({kRedBlock, moved(kSoftBlue, 2, -2), kGreenBlock}, 70)};
    QTest::newRow("shake played three times") << shake << 3 << false << shake;
    // libwebp merges a frame equal to the one before into it.
    const Frames repeated = {patches({kRedBlock}, 100), patches({kRedBlock}, 150),
                             patches({kGreenBlock}, 100)};
    QTest::newRow("a repeated frame becomes one longer frame")
        << repeated << 0 << false << Frames{patches({kRedBlock}, 250), patches({kGreenBlock}, 100)};
    // Unless every frame is asked for: then each one is there, with its delay.
    QTest::newRow("a repeated frame kept") << repeated << 0 << true << repeated;
    const Frames back = {patches({kRedBlock, kSoftBlue}, 80), patches({kGreenBlock}, 90),
                         patches({kGreenBlock}, 100), patches({kGreenBlock}, 110),
                         patches({kRedBlock, kSoftBlue}, 120)};
    QTest::newRow("a run of repeats between changes kept") << back << 2 << true << back;
    const Frames still = {patches({kRedBlock, kSoftBlue}, 100), patches({kRedBlock, kSoftBlue}, 300)};
    QTest::newRow("equal frames all kept") << still << 0 << true << still;
}

void TestWebpWriter::losslessShowsExactlyTheFramesGiven()
{
    QFETCH(Frames, frames);
    QFETCH(int, loopCount);
    QFETCH(bool, keepEveryFrame);
    QFETCH(Frames, expected);
    WebpOptions options;
    options.keepEveryFrame = keepEveryFrame;
    const EncodedAnimation encoded = encodeWebp(Animation{frames, loopCount}, options);
    QCOMPARE(encoded.frames, int(expected.size()));
    const DecodedWebp decoded = decodeWithLibwebp(encoded.bytes);
    QCOMPARE(decoded.loopCount, loopCount);
    QCOMPARE(decoded.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const QString difference = firstDifference(decoded.frames[i], expected[i].image);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
        QCOMPARE(decoded.delaysMs[i], expected[i].delayMs);
    }
}

// Lossy WebP keeps the frames and their timing and looks like the strip
// (colour is stored at half resolution, so edges are only near).
void TestWebpWriter::lossyStaysClose()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    WebpOptions lossy;
    lossy.quality = 90;
    const EncodedAnimation encoded = encodeWebp(reveal, lossy);
    const DecodedWebp decoded = decodeWithLibwebp(encoded.bytes);
    QCOMPARE(decoded.frames.size(), reveal.frames.size());
    QCOMPARE(decoded.delaysMs.back(), reveal.frames.back().delayMs);
    const double share = shareWithin(decoded.frames.back(), reveal.frames.back().image, Qt::white, 24);
    QVERIFY2(share >= 0.95, qPrintable(QString::number(share)));
}

void TestWebpWriter::onePictureIsAStill_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("quality");
    // A small patch on a transparent canvas is smaller as an animation frame
    // of its own size than as a whole still picture: the animation encoder
    // keeps such a picture as a one-frame animation.
    QTest::newRow("one patch, lossless") << Frames{patches({kSoftBlue}, 100)} << -1;
    QTest::newRow("one patch, lossy") << Frames{patches({kRedBlock}, 100)} << 75;
    QTest::newRow("equal frames merged into one")
        << Frames{patches({kRedBlock, kSoftBlue}, 100), patches({kRedBlock, kSoftBlue}, 300)} << -1;
}

// A one-frame animation is refused by dwebp and FFmpeg; a still is read by
// every decoder, those that play animations included.
void TestWebpWriter::onePictureIsAStill()
{
    QFETCH(Frames, frames);
    QFETCH(int, quality);
    WebpOptions options;
    options.quality = quality;
    const EncodedAnimation encoded = encodeWebp(Animation{frames, 0}, options);
    QCOMPARE(encoded.frames, 1);
    const QList<QByteArray> chunks = webpChunks(encoded.bytes);
    QVERIFY2(!chunks.contains("ANIM") && !chunks.contains("ANMF"), qPrintable(chunks.join(' ')));

    const QImage still = decodeStill(encoded.bytes);
    QVERIFY2(!still.isNull(), "libwebp's still decoder refuses the file");
    const DecodedWebp played = decodeWithLibwebp(encoded.bytes);
    QCOMPARE(played.frames.size(), std::size_t(1));
    QCOMPARE(firstDifference(played.frames.front(), still), QString());
    if (quality < 0)
        QCOMPARE(firstDifference(still, frames.front().image), QString());
}

void TestWebpWriter::refusesAQualityOutOfRange()
{
    WebpOptions options;
    options.quality = 101;
    try {
        encodeWebp(Animation{{patches({kRedBlock}, 100)}, 0}, options);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("质量 101 超出范围（应为 0 到 100）。"));
    }
}

void TestWebpWriter::frameTimesAreChecked_data()
{
    QTest::addColumn<QList<int>>("delaysMs");
    QTest::addColumn<QString>("message"); // empty when the rules hold

    // WhatsApp's rules: every frame at least 8 ms, 10 s in all.
    QTest::newRow("a reveal") << QList<int>{120, 120, 1500} << QString();
    QTest::newRow("8 ms frames and exactly 10 s") << QList<int>{8, 8, 9984} << QString();
    QTest::newRow("a 7 ms frame") << QList<int>{120, 7, 1500}
                                  << QStringLiteral("WebP 动画的第 2 帧只显示 7 毫秒，每帧至少要 8 毫秒");
    QTest::newRow("a millisecond over 10 s")
        << QList<int>{120, 120, 9761} << QStringLiteral("WebP 动画共 10001 毫秒，最长只能 10000 毫秒");
    // One picture is a still WebP, which has no timing.
    QTest::newRow("a still") << QList<int>{20000} << QString();
}

void TestWebpWriter::frameTimesAreChecked()
{
    QFETCH(QList<int>, delaysMs);
    QFETCH(QString, message);
    const std::vector<Patch> shown[] = {
        {kRedBlock}, {kRedBlock, kSoftBlue}, {kRedBlock, kSoftBlue, kGreenBlock}};
    Animation animation;
    for (qsizetype i = 0; i < delaysMs.size(); ++i)
        animation.frames.push_back(patches(shown[i], delaysMs[i]));
    const QByteArray file = encodeWebp(animation).bytes;
    try {
        checkWebpFrameTimes(file, {8, 10000});
        QVERIFY2(message.isEmpty(), "passed");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

void TestWebpWriter::frameTimesRefuseWhatIsNotWebp()
{
    try {
        checkWebpFrameTimes(QByteArray("not a WebP file"), {8, 10000});
        QFAIL("checked");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("不是 WebP 文件，无法检查帧的时间"));
    }
}

QTEST_MAIN(TestWebpWriter)
#include "tst_webp_writer.moc"
