#include "sticker/sticker_plays.h"

#include "animation_checks.h"

#include "composition/quillow_error.h"
#include "export/apng_reader.h"
#include "export/apng_writer.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <numeric>

Q_DECLARE_METATYPE(Animation)

namespace {

// LINE's animated stickers: 5 to 20 frames, 1 to 4 plays, 4 s in all.
const FinitePlayRules kLine{5, 20, 4, 4000, QStringLiteral("LINE 贴图")};

const Patch kInk{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};

// `count` frames, each showing one more column of the patch, the last one
// held for `holdMs`.
Animation growing(int count, int frameMs, int holdMs)
{
    Animation animation;
    for (int i = 0; i < count; ++i)
        animation.frames.push_back(
            patches({{QRect(0, 0, i % 40 + 1, 4 + i / 40), qRgba(20, 40, 230, 200)}}, frameMs));
    animation.frames.back().delayMs = holdMs;
    return animation;
}

int totalMs(const std::vector<ApngShownFrame> &frames)
{
    return int(std::accumulate(frames.begin(), frames.end(), 0.0,
                               [](double sum, const ApngShownFrame &frame) { return sum + frame.delayMs; }));
}

// pngcheck's account of `bytes`, or a failure naming what it said.
QString pngcheckAccount(const QByteArray &bytes)
{
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("cannot write the file");
    QProcess process;
    process.start(QStringLiteral("pngcheck"), {QStringLiteral("-v"), file.fileName()});
    process.waitForFinished(-1);
    const QString said = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("pngcheck failed (%1): %2").arg(process.errorString(), said);
    return said;
}

} // namespace

class TestStickerPlays : public QObject {
    Q_OBJECT
private slots:
    void playsFitTheTotal_data();
    void playsFitTheTotal();
    void fileKeepsTheRules_data();
    void fileKeepsTheRules();
    void refusesWhatCannotKeepThem_data();
    void refusesWhatCannotKeepThem();
};

void TestStickerPlays::playsFitTheTotal_data()
{
    QTest::addColumn<int>("cycleMs");
    QTest::addColumn<int>("plays"); // 0: none fits
    QTest::newRow("a quarter of the total: four plays") << 1000 << 4;
    QTest::newRow("a millisecond more: three") << 1001 << 3;
    QTest::newRow("exactly half: two") << 2000 << 2;
    QTest::newRow("a millisecond over half: one") << 2001 << 1;
    QTest::newRow("the whole total: one") << 4000 << 1;
    QTest::newRow("a millisecond over the total: none") << 4001 << 0;
    QTest::newRow("very short: no more than four") << 120 << 4;
    QTest::newRow("no time at all: four") << 0 << 4;
}

void TestStickerPlays::playsFitTheTotal()
{
    QFETCH(int, cycleMs);
    QFETCH(int, plays);
    QCOMPARE(playsWithin(cycleMs, 4, 4000).value_or(0), plays);
}

void TestStickerPlays::fileKeepsTheRules_data()
{
    QTest::addColumn<Animation>("animation");
    QTest::addColumn<int>("revealFrames");
    QTest::addColumn<int>("frames"); // in the file
    QTest::addColumn<int>("plays");

    // 9 x 120 ms + 1500 ms: 2580 ms, once; one leading frame more.
    QTest::newRow("10 characters") << revealOf(phraseSettings(QStringLiteral("我们一起大声喊出来吧"))) << 10
                                   << 11 << 1;
    // 2 x 120 ms + 1500 ms: 1740 ms, twice; the hold split to make 5 frames.
    QTest::newRow("3 characters") << revealOf(phraseSettings(QStringLiteral("喊出来"))) << 3 << 5 << 2;
    QTest::newRow("1 character, a still") << revealOf(phraseSettings(QStringLiteral("喊"))) << 1 << 5 << 2;
    QTest::newRow("emoji and Latin") << revealOf(phraseSettings(QStringLiteral("Go!😀"))) << 4 << 5 << 2;
    // 30 frames thinned to 19 and the leading one: 29 x 40 + 800 = 1960 ms.
    QTest::newRow("30 frames thinned") << growing(30, 40, 800) << 30 << 20 << 2;
    // 6 x 60 ms of shaking, nothing revealed: 360 ms, four times.
    Animation shake;
    for (int i = 0; i < 6; ++i)
        shake.frames.push_back(patches({moved(kInk, i % 3 - 1, i % 2)}, 60));
    QTest::newRow("shake") << shake << 0 << 7 << 4;
}

// The file, read back by the project's reader, starts with the finished
// picture, ends on it, and keeps every rule; pngcheck (which reads the
// animation chunks only as unknown ones) finds it a sound PNG.
void TestStickerPlays::fileKeepsTheRules()
{
    QFETCH(Animation, animation);
    QFETCH(int, revealFrames);
    QFETCH(int, frames);
    QFETCH(int, plays);
    const QImage &finished = animation.frames.back().image;

    // In RGBA, so that the pictures come back exactly.
    ApngOptions exact;
    exact.minPaletteQuality = 101;
    const QByteArray bytes = encodeApng(withFinitePlays(animation, revealFrames, kLine), exact).bytes;
    const ApngContents file = readApng(bytes);
    QCOMPARE(file.declaredFrames, frames);
    QCOMPARE(int(file.frames.size()), frames);
    QCOMPARE(file.plays, plays);
    QVERIFY(file.defaultIsFrame);
    QCOMPARE(firstDifference(file.defaultImage, finished), QString());
    QCOMPARE(firstDifference(file.frames.front().image, finished), QString());
    QCOMPARE(firstDifference(file.frames.back().image, finished), QString());
    const int cycle = totalMs(file.frames);
    QCOMPARE(cycle,
             std::accumulate(animation.frames.begin(), animation.frames.end(), 0,
                             [](int sum, const AnimationFrame &frame) { return sum + frame.delayMs; }));
    QVERIFY2(cycle * plays <= 4000, qPrintable(QString::number(cycle)));
    QVERIFY2(cycle * (plays + 1) > 4000 || plays == 4, qPrintable(QString::number(cycle)));

    const QString account = pngcheckAccount(bytes);
    QVERIFY2(account.contains(QStringLiteral("No errors detected")), qPrintable(account));
}

void TestStickerPlays::refusesWhatCannotKeepThem_data()
{
    QTest::addColumn<Animation>("animation");
    QTest::addColumn<int>("revealFrames");
    QTest::addColumn<QString>("message");
    QTest::newRow("one play longer than all may last")
        << growing(3, 1000, 2001) << 3
        << QStringLiteral("LINE 贴图的动画播放一遍要 4001 毫秒，超过了所有播放合计 4000 毫秒的上限");
    // 3 revealed and 20 after them: the reveal keeps 2, one short.
    Animation long_ = growing(23, 40, 200);
    QTest::newRow("too many frames after the reveal")
        << long_ << 3 << QStringLiteral("LINE 贴图的动画最多只能有 20 帧，这个效果有 24 帧");
}

void TestStickerPlays::refusesWhatCannotKeepThem()
{
    QFETCH(Animation, animation);
    QFETCH(int, revealFrames);
    QFETCH(QString, message);
    try {
        withFinitePlays(animation, revealFrames, kLine);
        QFAIL("made");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), message);
    }
}

QTEST_MAIN(TestStickerPlays)
#include "tst_sticker_plays.moc"
