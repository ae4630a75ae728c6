// A 40-sticker LINE pack from one quillow-render --pack against the same 40
// stickers made by 40 single quillow-render runs one after another (what a
// user did by hand) and by one --batch on every core. Each benchmark times
// whole processes, start to end, and reports the time per pack.

#include "bench_ratios.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kStickers = 40;

QTemporaryDir &folder()
{
    static QTemporaryDir made;
    return made;
}

QString pathIn(const QString &name)
{
    return QDir(folder().path()).filePath(name);
}

// Sticker i: 2 to 5 characters of a fixed text, as a set's phrases are.
QString phrase(int i)
{
    static const QString text = QStringLiteral("好的收到在吗冲冲冲晚安谢谢加油再见哈哈哈辛苦了早上好没问题");
    return text.mid(i % (text.size() - 5), 2 + i % 4);
}

const QStringList kStickerOptions{QStringLiteral("--seed"), QStringLiteral("5"), QStringLiteral("--outline"),
                                  QStringLiteral("3")};

bool run(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess process;
    process.start(QStringLiteral(QUILLOW_RENDER_PATH), arguments);
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void BM_Pack(benchmark::State &state)
{
    QFile list(pathIn(QStringLiteral("phrases.txt")));
    list.open(QIODevice::WriteOnly);
    for (int i = 0; i < kStickers; ++i)
        list.write((phrase(i) + QLatin1Char('\n')).toUtf8());
    list.close();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (!run(QStringList{QStringLiteral("--pack"), QStringLiteral("line")} + kStickerOptions +
                 QStringList{QStringLiteral("-o"), pathIn(QStringLiteral("pack.zip")), list.fileName()}))
            state.SkipWithError("the pack failed");
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

void BM_SingleRuns(benchmark::State &state)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kStickers; ++i)
            if (!run(QStringList{QStringLiteral("--preset"), QStringLiteral("line")} + kStickerOptions +
                     QStringList{QStringLiteral("-o"), pathIn(QStringLiteral("single%1.png").arg(i)),
                                 phrase(i)})) {
                state.SkipWithError("a single run failed");
                return;
            }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

void BM_Batch(benchmark::State &state)
{
    QByteArray lines;
    for (int i = 0; i < kStickers; ++i)
        lines += QJsonDocument(
                     QJsonObject{{QStringLiteral("phrase"), phrase(i)},
                                 {QStringLiteral("output"), pathIn(QStringLiteral("batch%1.png").arg(i))}})
                     .toJson(QJsonDocument::Compact) +
                 '\n';
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (!run(QStringList{QStringLiteral("--preset"), QStringLiteral("line"), QStringLiteral("--batch"),
                             QStringLiteral("-")} +
                     kStickerOptions,
                 lines))
            state.SkipWithError("the batch failed");
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
}

} // namespace

BENCHMARK(BM_Pack)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SingleRuns)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Batch)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

std::vector<BenchRatio> benchRatios()
{
    return {
        {"40-sticker LINE pack / 40 single runs", "BM_Pack/iterations:1/manual_time",
         "BM_SingleRuns/iterations:1/manual_time", "<= 0.6"},
        {"40-sticker LINE pack / the same stickers by --batch", "BM_Pack/iterations:1/manual_time",
         "BM_Batch/iterations:1/manual_time", "<= 1.1"},
    };
}
