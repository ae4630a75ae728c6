#include "export/gif_writer.h"

#include "animation_checks.h"

#include "composition/quillow_error.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
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

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    qWarning("%s: %s %s", qPrintable(program), process.readAllStandardError().constData(),
             qPrintable(process.errorString()));
    return false;
}

// The pictures a reader wrote into `folder`, in the order of their names.
std::vector<QImage> picturesIn(const QString &folder, const QString &pattern)
{
    std::vector<QImage> pictures;
    for (const QString &name : QDir(folder).entryList({pattern}, QDir::Files, QDir::Name))
        pictures.push_back(QImage(QDir(folder).filePath(name)).convertToFormat(QImage::Format_ARGB32));
    return pictures;
}

// `bytes` as a file in `folder`; its path, or empty when it cannot be written.
QString savedGif(const QTemporaryDir &folder, const QByteArray &bytes)
{
    QFile file(folder.filePath(QStringLiteral("in.gif")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

// Pillow's reading: each frame as it shows, composed over the ones before.
std::vector<QImage> readWithPillow(const QByteArray &bytes)
{
    QTemporaryDir folder;
    const QString file = savedGif(folder, bytes);
    if (file.isEmpty())
        return {};
    const QString script =
        QStringLiteral("import sys\n"
                       "from PIL import Image, ImageSequence\n"
                       "for i, frame in enumerate(ImageSequence.Iterator(Image.open(sys.argv[1]))):\n"
                       "    frame.convert('RGBA').save('%s/pillow%03d.png' % (sys.argv[2], i))\n");
    if (!run(QStringLiteral(QUILLOW_PIL_PYTHON), {"-c", script, file, folder.path()}))
        return {};
    return picturesIn(folder.path(), QStringLiteral("pillow*.png"));
}

// gifsicle's reading: each frame composed whole (--unoptimize) into a file
// of its own, read back by Qt.
std::vector<QImage> readWithGifsicle(const QByteArray &bytes)
{
    QTemporaryDir folder;
    const QString file = savedGif(folder, bytes);
    if (file.isEmpty())
        return {};
    if (!run(QStringLiteral("gifsicle"),
             {"--unoptimize", "--explode", file, "-o", folder.filePath(QStringLiteral("frame"))}))
        return {};
    return picturesIn(folder.path(), QStringLiteral("frame.*"));
}

// 255 colours of noise over a 120 x 100 frame: the LZW table fills many
// times over.
AnimationFrame noisyFrame(std::uint32_t seed, int delayMs)
{
    QImage image(120, 100, QImage::Format_ARGB32);
    std::uint32_t state = seed;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1103515245u + 12345u;
            const int colour = int((state >> 16) % 255);
            image.setPixel(x, y, qRgb(colour, 255 - colour, (colour * 7) % 256));
        }
    return {image.convertToFormat(QImage::Format_ARGB32_Premultiplied), delayMs};
}

} // namespace

class TestGifWriter : public QObject {
    Q_OBJECT
private slots:
    void showsExactlyTheFramesGiven_data();
    void showsExactlyTheFramesGiven();
    void realRevealKeepsItsLook_data();
    void realRevealKeepsItsLook();
    void threeReadersSeeTheSameFrames_data();
    void threeReadersSeeTheSameFrames();
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

void TestGifWriter::threeReadersSeeTheSameFrames_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::newRow("a real reveal") << revealOf(phraseSettings(QStringLiteral("友谊的小船说翻就翻"))).frames;
    QTest::newRow("pixels vanish") << Frames{patches({kGreenBlock, kRedBlock}, 100),
                                             patches({kHalfBlue}, 100),
                                             patches({moved(kGreenBlock, -3, 0)}, 100), patches({}, 100)};
    // Opaque and 255 colours: the palette has no room left for the
    // transparent entry that unchanged pixels are coded with.
    QTest::newRow("opaque noise fills the palette and the code table")
        << Frames{noisyFrame(7, 100), noisyFrame(8, 100)};
}

// The LZW codes and the renumbered palette are ours; Qt's reader, Pillow and
// gifsicle must all see the same pixels in every frame.
void TestGifWriter::threeReadersSeeTheSameFrames()
{
    QFETCH(Frames, frames);
    const QByteArray bytes = encodeGif(Animation{frames, 0}).bytes;
    const ReadGif qt = readWithQt(bytes);
    QCOMPARE(qt.frames.size(), frames.size());
    const std::vector<QImage> pillow = readWithPillow(bytes);
    const std::vector<QImage> gifsicle = readWithGifsicle(bytes);
    QCOMPARE(pillow.size(), frames.size());
    QCOMPARE(gifsicle.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        QVERIFY2(
            firstDifference(pillow[i], qt.frames[i]).isEmpty(),
            qPrintable(
                QStringLiteral("Pillow, frame %1: %2").arg(i).arg(firstDifference(pillow[i], qt.frames[i]))));
        QVERIFY2(firstDifference(gifsicle[i], qt.frames[i]).isEmpty(),
                 qPrintable(QStringLiteral("gifsicle, frame %1: %2")
                                .arg(i)
                                .arg(firstDifference(gifsicle[i], qt.frames[i]))));
    }
    // Every pixel is drawn in the colour the palette gave it, or in the
    // colour of its neighbour there, never in one outside the palette.
    const QImage &given = frames.back().image;
    const double share = shareWithin(qt.frames.back(), binaryAlpha(given), Qt::white, 24);
    QVERIFY2(share >= 0.99, qPrintable(QString::number(share)));
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
