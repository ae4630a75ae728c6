#include "export/webm_writer.h"

#include "animation_checks.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "export/animation_decoding.h"
#include "export/output_format.h"
#include "sticker/sticker.h"
#include "sticker/sticker_preset.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

Q_DECLARE_METATYPE(Animation)
Q_DECLARE_METATYPE(WebmOptions)

namespace {

const Patch kRedBlock{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};
const Patch kSoftBlue{QRect(12, 4, 9, 12), qRgba(20, 40, 230, 128)};

// Runs `program` with `arguments` and returns what it printed; fails the
// test when it cannot start or exits with an error.
QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning("%s failed: %s %s", qPrintable(program), process.readAllStandardError().constData(),
                 qPrintable(process.errorString()));
        return {};
    }
    return process.readAllStandardOutput();
}

// `bytes` in a file of its own, for the tools that read files.
class WebmFile {
public:
    explicit WebmFile(const QByteArray &bytes)
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    QString path() const { return m_folder.filePath(QStringLiteral("video.webm")); }
    QString folder() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
};

// What ffprobe reads of the file: its streams, with the frames counted by
// decoding, and the container's duration.
QJsonObject probe(const WebmFile &file)
{
    return QJsonDocument::fromJson(
               run(QStringLiteral("ffprobe"), {"-v", "error", "-count_frames", "-show_streams",
                                               "-show_format", "-of", "json", file.path()}))
        .object();
}

// Every frame as libvpx decodes it, alpha included (FFmpeg's own VP9
// decoder would drop the alpha stream), in showing order.
std::vector<QImage> decodeWithLibvpx(const WebmFile &file)
{
    run(QStringLiteral("ffmpeg"), {"-v", "error", "-c:v", "libvpx-vp9", "-i", file.path(), "-pix_fmt", "rgba",
                                   QDir(file.folder()).filePath(QStringLiteral("frame%04d.png"))});
    std::vector<QImage> frames;
    for (int i = 1;; ++i) {
        const QImage frame(
            QDir(file.folder()).filePath(QStringLiteral("frame%1.png").arg(i, 4, 10, QChar(u'0'))));
        if (frame.isNull())
            return frames;
        frames.push_back(frame.convertToFormat(QImage::Format_ARGB32));
    }
}

// The largest difference of alpha between two pictures of one size, and the
// share of pixels whose alpha differs by more than `levels`.
struct AlphaDifference {
    int largest = 0;
    double shareBeyond = 0;
};

AlphaDifference alphaDifference(const QImage &decoded, const QImage &expected, int levels)
{
    const QImage a = decoded.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    AlphaDifference difference;
    qint64 beyond = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const int d = std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y)));
            difference.largest = std::max(difference.largest, d);
            beyond += d > levels;
        }
    difference.shareBeyond = double(beyond) / double(a.width() * a.height());
    return difference;
}

Animation withDelays(Animation animation, int frameMs, int holdMs)
{
    for (AnimationFrame &frame : animation.frames)
        frame.delayMs = frameMs;
    animation.frames.back().delayMs = holdMs;
    return animation;
}

} // namespace

class TestWebmWriter : public QObject {
    Q_OBJECT
private slots:
    void probedStreamKeepsTheRules_data();
    void probedStreamKeepsTheRules();
    void lastFrameKeepsTheStillsAlpha();
    void decodedForThePreview();
    void decodingRefusesWhatIsNotWebm();
    void sameBytesOnOneThreadOrTwo();
    void higherCrfMakesSmallerFiles();
    void stickerCapIsMetByLoweringQuality();
    void refusesBadInput_data();
    void refusesBadInput();
};

void TestWebmWriter::probedStreamKeepsTheRules_data()
{
    QTest::addColumn<Animation>("animation");
    QTest::addColumn<int>("frames");    // at 30 fps
    QTest::addColumn<QString>("warns"); // a word the warning holds, or empty for none

    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船")));
    // 4 x 120 ms + 1500 ms: 1.98 s, 59.4 frames.
    QTest::newRow("a reveal that fits") << reveal << 59 << QString();
    // 4 x 120 ms + 4000 ms: the hold shrinks to 2520 ms.
    QTest::newRow("a long hold shortened") << withDelays(reveal, 120, 4000) << 90 << QStringLiteral("2520");
    // 4 x 900 ms + 3000 ms: the hold shrinks to 900 ms, then all to 3/4.5.
    QTest::newRow("long frames shortened too")
        << withDelays(reveal, 900, 3000) << 90 << QStringLiteral("每一帧的时间也缩短为原来的 66%");
    QTest::newRow("one still frame") << Animation{{{reveal.frames.back().image, 0}}, 0} << 1 << QString();
    // Odd sides: the chroma planes round up.
    Animation odd{{patches({kRedBlock}, 100), patches({kRedBlock, kSoftBlue}, 100)}, 0};
    for (AnimationFrame &frame : odd.frames)
        frame.image = frame.image.copy(0, 0, 39, 23);
    QTest::newRow("flat patches, odd size, soft alpha") << odd << 6 << QString();
}

void TestWebmWriter::probedStreamKeepsTheRules()
{
    QFETCH(Animation, animation);
    QFETCH(int, frames);
    QFETCH(QString, warns);
    const EncodedAnimation encoded = encodeWebm(animation);
    QCOMPARE(encoded.frames, frames);
    if (warns.isEmpty())
        QVERIFY2(encoded.warnings.isEmpty(), qPrintable(encoded.warnings.join(u'\n')));
    else
        QVERIFY2(encoded.warnings.size() == 1 && encoded.warnings.front().contains(warns),
                 qPrintable(encoded.warnings.join(u'\n')));

    const WebmFile file(encoded.bytes);
    const QJsonObject probed = probe(file);
    const QJsonArray streams = probed[u"streams"].toArray();
    QCOMPARE(streams.size(), 1); // no audio
    const QJsonObject video = streams.first().toObject();
    QCOMPARE(video[u"codec_type"].toString(), QStringLiteral("video"));
    QCOMPARE(video[u"codec_name"].toString(), QStringLiteral("vp9"));
    QCOMPARE(video[u"width"].toInt(), animation.frames.front().image.width());
    QCOMPARE(video[u"height"].toInt(), animation.frames.front().image.height());
    QCOMPARE(video[u"r_frame_rate"].toString(), QStringLiteral("30/1"));
    QCOMPARE(video[u"tags"].toObject()[u"alpha_mode"].toString(), QStringLiteral("1"));
    QCOMPARE(video[u"nb_read_frames"].toString().toInt(), frames);
    const QJsonObject format = probed[u"format"].toObject();
    QCOMPARE(format[u"format_name"].toString(), QStringLiteral("matroska,webm"));
    // Matroska counts milliseconds: each frame lasts 33 or 34 of them.
    const double seconds = format[u"duration"].toString().toDouble();
    QVERIFY2(std::abs(seconds - frames / 30.0) <= 0.001, qPrintable(QString::number(seconds)));
    QVERIFY(seconds <= 3.0);
}

// The alpha comes back through the libvpx decoder close to the still's: VP9
// codes it lossily, so a level or two off is normal on soft edges, and up to
// 1 % of the pixels (edge pixels) may be off by more than 8 levels.
void TestWebmWriter::lastFrameKeepsTheStillsAlpha()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    const WebmFile file(encodeWebm(reveal).bytes);
    const std::vector<QImage> decoded = decodeWithLibvpx(file);
    QVERIFY(!decoded.empty());
    const QImage &still = reveal.frames.back().image;
    QCOMPARE(decoded.back().size(), still.size());
    const AlphaDifference difference = alphaDifference(decoded.back(), still, 8);
    QVERIFY2(difference.shareBeyond <= 0.01, qPrintable(QString::number(difference.shareBeyond)));
    QVERIFY2(difference.largest <= 96, qPrintable(QString::number(difference.largest)));
    // The colours, where the still is at least half opaque, on a light and
    // a dark ground.
    for (const QColor &ground : {QColor(Qt::white), QColor(32, 32, 32)}) {
        const double share = shareWithin(decoded.back(), still, ground, 24, true);
        QVERIFY2(share >= 0.98, qPrintable(QString::number(share)));
    }
    // The first frame shows the first character alone: far less ink.
    QVERIFY(alphaDifference(decoded.front(), still, 8).shareBeyond > 0.05);
}

// What the sticker preview plays: every video frame, timed as the file
// says, with exactly the alpha the libvpx decoder gives ffmpeg, and the
// still's colours (ffmpeg's own conversion to RGB is a few levels further
// from them, so it is no reference for the colours).
void TestWebmWriter::decodedForThePreview()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    const EncodedAnimation encoded = encodeWebm(reveal);
    const Animation played = decodeAnimation(encoded.bytes, *outputFormatNamed(u"webm"));
    QCOMPARE(int(played.frames.size()), encoded.frames);
    QCOMPARE(played.loopCount, 0);
    // The held strip repeats one picture, which is kept once.
    QCOMPARE(played.frames.back().image.cacheKey(), played.frames[played.frames.size() - 2].image.cacheKey());
    int totalMs = 0;
    for (const AnimationFrame &frame : played.frames) {
        QVERIFY2(frame.delayMs == 33 || frame.delayMs == 34, qPrintable(QString::number(frame.delayMs)));
        QCOMPARE(frame.image.format(), QImage::Format_ARGB32_Premultiplied);
        totalMs += frame.delayMs;
    }
    QVERIFY2(std::abs(totalMs * 30 - encoded.frames * 1000) <= 30, qPrintable(QString::number(totalMs)));

    const QImage &still = reveal.frames.back().image;
    const AlphaDifference fromStill = alphaDifference(played.frames.back().image, still, 8);
    QVERIFY2(fromStill.shareBeyond <= 0.01, qPrintable(QString::number(fromStill.shareBeyond)));
    for (const QColor &ground : {QColor(Qt::white), QColor(32, 32, 32)}) {
        const double share = shareWithin(played.frames.back().image, still, ground, 24, true);
        QVERIFY2(share >= 0.99, qPrintable(QString::number(share)));
    }

    const WebmFile file(encoded.bytes);
    const std::vector<QImage> theirs = decodeWithLibvpx(file);
    QCOMPARE(theirs.size(), played.frames.size());
    for (std::size_t i = 0; i < theirs.size(); ++i)
        QCOMPARE(alphaDifference(played.frames[i].image, theirs[i], 0).largest, 0);
}

void TestWebmWriter::decodingRefusesWhatIsNotWebm()
{
    const OutputFileFormat &webm = *outputFormatNamed(u"webm");
    const QByteArray whole = encodeWebm(revealOf(phraseSettings(QStringLiteral("喊喊")))).bytes;
    for (const QByteArray &bytes : {QByteArray("not a video"), whole.left(40)}) {
        try {
            decodeAnimation(bytes, webm);
            QFAIL("decoded");
        } catch (const QuillowError &error) {
            QVERIFY2(error.message().startsWith(QStringLiteral("无法读取生成的 WEBM 文件：")),
                     qPrintable(error.message()));
        }
    }
}

void TestWebmWriter::sameBytesOnOneThreadOrTwo()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("喊喊喊")));
    const QByteArray alone = encodeWebm(reveal).bytes;
    QByteArray first, second;
    std::thread other([&] { first = encodeWebm(reveal).bytes; });
    second = encodeWebm(reveal).bytes;
    other.join();
    QCOMPARE(first, alone);
    QCOMPARE(second, alone);
}

void TestWebmWriter::higherCrfMakesSmallerFiles()
{
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船")));
    WebmOptions best, smallest;
    best.crf = 10;
    smallest.crf = kMaxWebmCrf;
    const qsizetype large = encodeWebm(reveal, best).bytes.size();
    const qsizetype normal = encodeWebm(reveal).bytes.size();
    const qsizetype small = encodeWebm(reveal, smallest).bytes.size();
    QVERIFY2(large > normal && normal > small,
             qPrintable(QStringLiteral("%1 %2 %3").arg(large).arg(normal).arg(small)));
}

void TestWebmWriter::stickerCapIsMetByLoweringQuality()
{
    const StripLayout layout = laidOutStrip(phraseSettings(QStringLiteral("友谊的小船")));
    StickerOptions options;
    options.effect = Effect::Reveal;
    options.format = outputFormatNamed(u"webm");
    const Sticker free = makeSticker(layout, Qt::black, options);
    QCOMPARE(free.encodes, 1);
    QCOMPARE(free.format, outputFormatNamed(u"webm"));

    options.maxBytes = free.bytes.size() * 2 / 3;
    const Sticker capped = makeSticker(layout, Qt::black, options);
    QVERIFY2(capped.bytes.size() <= *options.maxBytes, qPrintable(QString::number(capped.bytes.size())));
    QVERIFY(capped.encodes > 1);
    QCOMPARE(capped.frames, free.frames); // the reveal is not thinned
    const WebmFile file(capped.bytes);
    QCOMPARE(probe(file)[u"streams"].toArray().first().toObject()[u"codec_name"].toString(),
             QStringLiteral("vp9"));

    options.maxBytes = 200;
    try {
        makeSticker(layout, Qt::black, options);
        QFAIL("a 200-byte cap was met");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("贴纸无法压缩到 200 字节以内，请减少字数或去掉效果"));
    }
}

void TestWebmWriter::refusesBadInput_data()
{
    QTest::addColumn<Animation>("animation");
    QTest::addColumn<WebmOptions>("options");
    QTest::addColumn<QString>("message");

    const Animation one{{patches({kRedBlock}, 100)}, 0};
    WebmOptions crf;
    crf.crf = 64;
    QTest::newRow("crf above 63") << one << crf
                                  << QStringLiteral("WEBM 质量参数 crf 64 超出范围（应为 0 到 63）。");
    WebmOptions rate;
    rate.frameRate = 0;
    QTest::newRow("no frame rate") << one << rate << QStringLiteral("帧率 0 超出范围（应为 1 到 120）。");
    WebmOptions brief;
    brief.maxDurationMs = 20;
    QTest::newRow("shorter than a frame") << one << brief << QStringLiteral("视频最长时间 20 毫秒不够一帧。");
    QTest::newRow("no frames") << Animation{} << WebmOptions{}
                               << QStringLiteral("动画没有任何帧，无法保存。");
}

void TestWebmWriter::refusesBadInput()
{
    QFETCH(Animation, animation);
    QFETCH(WebmOptions, options);
    QFETCH(QString, message);
    try {
        encodeWebm(animation, options);
        QFAIL("encoded");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

QTEST_MAIN(TestWebmWriter)
#include "tst_webm_writer.moc"
