#include "composition/quillow_error.h"
#include "export/animation_decoding.h"
#include "jobs/job_options.h"
#include "jobs/render_job.h"

#include <QBuffer>
#include <QImageReader>
#include <QtTest>

#include <sys/resource.h>

#include "one_thread.h"

namespace {

const QString kFace = QStringLiteral("WenQuanYi Micro Hei");

// The job of a batch line, with the test's face.
RenderJob jobOf(const QByteArray &line)
{
    JobDraft defaults;
    defaults.job.settings.faceName = kFace;
    return jobFromJsonLine(line, defaults, 1);
}

// Width x height x frames of the file's pictures, as a decoder reads them.
qint64 pixelFramesOf(const QByteArray &bytes, const OutputFileFormat &format)
{
    const Animation animation = decodeAnimation(bytes, format);
    const QImage &first = animation.frames.front().image;
    return qint64(first.width()) * first.height() * qint64(animation.frames.size());
}

RenderCap pixelCap(qint64 pixelFrames)
{
    return {pixelFrames, std::numeric_limits<qint64>::max()};
}

} // namespace

class TestRenderCap : public QObject {
    Q_OBJECT

private slots:
    void stillsAreCappedAtTheirExactSize_data();
    void stillsAreCappedAtTheirExactSize();
    void bmpFileIsCappedAtItsExactSize();
    void stickersNeverMakeMoreThanTheCap_data();
    void stickersNeverMakeMoreThanTheCap();
    void noCapMakesWhatItAlwaysMade();
    void runningOutOfMemoryIsTooLarge();
};

void TestRenderCap::stillsAreCappedAtTheirExactSize_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("png") << QByteArray(R"({"phrase":"我们一起喊","output":"a.png","seed":1})");
    QTest::newRow("png at 300 dpi, scale 1.5")
        << QByteArray(R"({"phrase":"我们","output":"a.png","dpi":300,"scale":1.5,"seed":1})");
    QTest::newRow("plain png-alpha, scale 2")
        << QByteArray(R"({"phrase":"喊","output":"a.png","format":"png-alpha","scale":2,"seed":1})");
    QTest::newRow("bmp") << QByteArray(R"({"phrase":"一二三","output":"a.bmp","seed":2})");
}

// A still is drawn at the size its layout says: a cap of exactly its pixels
// lets it be made, one pixel less refuses it before drawing, naming the cap.
void TestRenderCap::stillsAreCappedAtTheirExactSize()
{
    QFETCH(QByteArray, line);
    RenderJob job = jobOf(line);
    const QByteArray made = encodeRenderJob(job);
    const qint64 pixels = pixelFramesOf(made, *job.format);

    job.cap = pixelCap(pixels);
    QVERIFY(renderJob(job).ok());
    job.cap = pixelCap(pixels - 1);
    QByteArray bytes;
    const JobReport report = renderJob(job, &bytes);
    QVERIFY(report.tooLarge && report.badInput);
    QVERIFY(bytes.isEmpty());
    QVERIFY2(report.error.startsWith(QStringLiteral("图片太大：")) &&
                 report.error.contains(QStringLiteral("%1 像素（宽 × 高 × 帧数）的上限").arg(pixels - 1)),
             qPrintable(report.error));
}

void TestRenderCap::bmpFileIsCappedAtItsExactSize()
{
    RenderJob job = jobOf(R"({"phrase":"我们一起","output":"a.bmp","scale":2})");
    const QByteArray made = encodeRenderJob(job);
    job.cap = RenderCap{std::numeric_limits<qint64>::max(), made.size()};
    QVERIFY(renderJob(job).ok());
    job.cap->uncompressedBytes = made.size() - 1;
    const JobReport report = renderJob(job);
    QVERIFY(report.tooLarge);
    QVERIFY2(report.error.contains(QStringLiteral("这个 BMP 文件会有 %1 字节").arg(made.size())),
             qPrintable(report.error));
}

void TestRenderCap::stickersNeverMakeMoreThanTheCap_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("reveal apng") << QByteArray(
        R"({"phrase":"我们一起喊","output":"a.apng","effect":"reveal","seed":1})");
    QTest::newRow("shake gif, outline")
        << QByteArray(R"({"phrase":"喊出来","output":"a.gif","effect":"shake","outline":8,"seed":1})");
    QTest::newRow("reveal-shake webp, shadow, two rows") << QByteArray(
        R"({"phrase":"友谊的小船说翻就翻","output":"a.webp","effect":"reveal-shake","shadow":true,"rows":2,"seed":1})");
    QTest::newRow("still png-alpha, outline")
        << QByteArray(R"({"phrase":"好","output":"a.png","format":"png-alpha","outline":12})");
    QTest::newRow("wechat preset, reveal")
        << QByteArray(R"({"phrase":"我们一起喊","output":"a.gif","preset":"wechat","effect":"reveal"})");
}

// The cap is checked before drawing from what the layout promises, so it
// may not know a sticker's exact size: it never lets through more than it
// allows, and does not refuse a sticker half its size.
void TestRenderCap::stickersNeverMakeMoreThanTheCap()
{
    QFETCH(QByteArray, line);
    RenderJob job = jobOf(line);
    const QByteArray made = encodeRenderJob(job);
    const qint64 pixelFrames = pixelFramesOf(made, *job.format);

    job.cap = pixelCap(2 * pixelFrames);
    const JobReport within = renderJob(job);
    QVERIFY2(within.ok(), qPrintable(within.error));
    job.cap = pixelCap(pixelFrames - 1);
    const JobReport report = renderJob(job);
    QVERIFY2(report.tooLarge, qPrintable(report.error));
    QVERIFY2(report.error.contains(QStringLiteral("的上限")), qPrintable(report.error));
}

// The command line asks for no cap: a picture of 48 million pixels is made.
void TestRenderCap::noCapMakesWhatItAlwaysMade()
{
    const RenderJob job = jobOf(R"({"phrase":"一二三四五六七八九十","output":"a.png","dpi":600,"scale":3})");
    QVERIFY(!job.cap);
    QByteArray bytes;
    const JobReport report = renderJob(job, &bytes);
    QVERIFY2(report.ok(), qPrintable(report.error));
    QBuffer file(&bytes);
    const QSize size = QImageReader(&file).size(); // the header alone: Qt refuses to decode this much
    QVERIFY2(qint64(size.width()) * size.height() > 40'000'000,
             qPrintable(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height())));
}

// A render that runs out of memory asks for more than its process may
// make, as one over the cap does.
void TestRenderCap::runningOutOfMemoryIsTooLarge()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory does not fit in an address space limit");
#endif
    const RenderJob job = jobOf(R"({"phrase":"一二三四五六七八九十","output":"a.png","dpi":600,"scale":3})");
    const std::optional<QByteArray> outcome = inOneThread([&] {
        // 64 MiB above what is mapped now: far from the 48 million pixels.
        QFile statm(QStringLiteral("/proc/self/statm"));
        statm.open(QIODevice::ReadOnly);
        const rlim_t mapped =
            rlim_t(statm.readAll().split(' ').front().toULongLong()) * rlim_t(getpagesize());
        const rlimit limit{mapped + (rlim_t(64) << 20), RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &limit);
        QByteArray bytes;
        const JobReport report = renderJob(job, &bytes);
        return QByteArray(report.tooLarge ? "too large: " : "other: ") + report.error.toUtf8();
    });
    QVERIFY(outcome);
    QCOMPARE(QString::fromUtf8(*outcome), QStringLiteral("too large: ") + outOfMemoryMessage());
}

QTEST_MAIN(TestRenderCap)
#include "tst_render_cap.moc"
