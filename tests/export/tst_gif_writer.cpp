#include "export/gif_writer.h"

#include "animation_checks.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QImageReader>
#include <QtTest>

namespace {

const Patch kRedBlock{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};
// Half covered: drawn opaque in its own colour.
const Patch kHalfBlue{QRect(12, 4, 9, 12), qRgba(20, 40, 230, 128)};
const Patch kGreenBlock{QRect(24, 1, 12, 20), qRgba(10, 160, 60, 255)};
// Less than half covered: left out.
const Patch kFaintEdge{QRect(24, 21, 12, 2), qRgba(10, 160, 60, 127)};

// What a GIF can show of `frame`: every pixel opaque or transparent.
QImage binaryAlpha(const QImage &frame)
{
    QImage image = frame.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            image.setPixel(x, y, qAlpha(pixel) >= 128 ? (pixel | 0xff000000u) : 0u);
        }
    return image;
}

struct ReadGif {
    std::vector<QImage> frames;
    std::vector<int> delays;
    int loopCount = 0;
};

ReadGif readWithQt(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    ReadGif read;
    read.loopCount = reader.loopCount();
    QImage image;
    while (reader.read(&image)) {
        read.frames.push_back(image.convertToFormat(QImage::Format_ARGB32));
        read.delays.push_back(reader.nextImageDelay());
    }
    return read;
}

} // namespace

class TestGifWriter : public QObject {
    Q_OBJECT
private slots:
    void showsExactlyTheFramesGiven_data();
    void showsExactlyTheFramesGiven();
    void realRevealKeepsItsLook_data();
    void realRevealKeepsItsLook();
    void refusesWhatItCannotWrite_data();
    void refusesWhatItCannotWrite();
};

using Frames = std::vector<AnimationFrame>;

void TestGifWriter::showsExactlyTheFramesGiven_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<int>("qtLoopCount"); // Qt: -1 forever, else repeats after the first play
    QTest::addColumn<std::vector<int>>("delaysMs");

    const Frames reveal = {patches({kRedBlock}, 120), patches({kRedBlock, kHalfBlue}, 125),
                           patches({kRedBlock, kHalfBlue, kGreenBlock, kFaintEdge}, 1500)};
    const Frames shake = {
        patches({moved(kRedBlock, 1, 0), kHalfBlue}, 60), patches({moved(kRedBlock, -1, 2), kHalfBlue}, 60),
        patches({kRedBlock, moved(kHalfBlue, 2, -2)}, 60), patches({kRedBlock, kHalfBlue}, 60)};
    // Pixels that must vanish: only a disposal to the background does that.
    const Frames vanish = {patches({kGreenBlock, kRedBlock}, 100), patches({kHalfBlue}, 100),
                           patches({moved(kGreenBlock, -3, 0)}, 100), patches({}, 100)};
    const Frames repeated = {patches({kRedBlock}, 100), patches({kRedBlock}, 100),
                             patches({kRedBlock, kGreenBlock}, 100)};

    // 120, 125, 1500 ms: 12, 24.5 -> 25 (so 13), 174.5 -> 175 (so 150).
    QTest::newRow("reveal forever, delays rounded on their sum")
        << reveal << 0 << -1 << std::vector<int>{120, 130, 1500};
    QTest::newRow("shake played three times") << shake << 3 << 2 << std::vector<int>{60, 60, 60, 60};
    QTest::newRow("pixels vanish, played once") << vanish << 1 << 0 << std::vector<int>{100, 100, 100, 100};
    QTest::newRow("a frame equal to the one before")
        << repeated << 0 << -1 << std::vector<int>{100, 100, 100};
}

void TestGifWriter::showsExactlyTheFramesGiven()
{
    QFETCH(Frames, frames);
    QFETCH(int, loopCount);
    QFETCH(int, qtLoopCount);
    QFETCH(std::vector<int>, delaysMs);

    const EncodedAnimation encoded = encodeGif(Animation{frames, loopCount});
    QCOMPARE(encoded.frames, int(frames.size()));
    QVERIFY(encoded.quality >= 0);
    const ReadGif read = readWithQt(encoded.bytes);
    QCOMPARE(read.frames.size(), frames.size());
    QCOMPARE(read.loopCount, qtLoopCount);
    QCOMPARE(read.delays, delaysMs);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const QString difference = firstDifference(read.frames[i], binaryAlpha(frames[i].image));
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
    }
}

void TestGifWriter::realRevealKeepsItsLook_data()
{
    QTest::addColumn<QColor>("matte");
    QTest::addColumn<QColor>("ground");
    QTest::newRow("no matte, white chat") << QColor() << QColor(Qt::white);
    QTest::newRow("no matte, dark chat") << QColor() << QColor(0x1E, 0x1E, 0x1E);
    QTest::newRow("dark matte, dark chat") << QColor(0x1E, 0x1E, 0x1E) << QColor(0x1E, 0x1E, 0x1E);
    QTest::newRow("white matte, white chat") << QColor(Qt::white) << QColor(Qt::white);
}

void TestGifWriter::realRevealKeepsItsLook()
{
    QFETCH(QColor, matte);
    QFETCH(QColor, ground);
    const Animation reveal = revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻")));
    GifOptions options;
    if (matte.isValid())
        options.matte = matte;
    const ReadGif read = readWithQt(encodeGif(reveal, options).bytes);
    QCOMPARE(read.frames.size(), reveal.frames.size());
    // Without a matte a pixel at least half covered is drawn opaque in its
    // own colour, so on any ground an edge pixel differs from the soft
    // still by up to half the contrast: what the palette must keep is the
    // still as GIF can show it. With a matte matching the chat, every
    // pixel, soft edges too, is as in the still.
    const QImage still =
        matte.isValid() ? reveal.frames.back().image : binaryAlpha(reveal.frames.back().image);
    const double share = shareWithin(read.frames.back(), still, ground, 8, !matte.isValid());
    QVERIFY2(share >= 0.99, qPrintable(QString::number(share)));
    // What a frame leaves out stays out.
    for (std::size_t i = 0; i < reveal.frames.size(); ++i) {
        const QImage &given = reveal.frames[i].image;
        for (int y = 0; y < given.height(); ++y)
            for (int x = 0; x < given.width(); ++x)
                if (qAlpha(given.pixel(x, y)) == 0)
                    QCOMPARE(qAlpha(read.frames[i].pixel(x, y)), 0);
    }
}

void TestGifWriter::refusesWhatItCannotWrite_data()
{
    QTest::addColumn<int>("maxColours");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<QString>("message");
    QTest::newRow("one colour") << 1 << 100 << 0
                                << QStringLiteral("调色板颜色数 1 超出范围（应为 2 到 256）。");
    QTest::newRow("a delay beyond 655350 ms")
        << 256 << 655351 << 0 << QStringLiteral("帧的时长 655351 毫秒超出范围，无法保存。");
    QTest::newRow("more plays than GIF counts")
        << 256 << 100 << 65537 << QStringLiteral("循环次数 65537 超出 GIF 的上限。");
}

void TestGifWriter::refusesWhatItCannotWrite()
{
    QFETCH(int, maxColours);
    QFETCH(int, delayMs);
    QFETCH(int, loopCount);
    QFETCH(QString, message);
    GifOptions options;
    options.maxColours = maxColours;
    try {
        encodeGif(Animation{{patches({kRedBlock}, delayMs)}, loopCount}, options);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

QTEST_MAIN(TestGifWriter)
#include "tst_gif_writer.moc"
