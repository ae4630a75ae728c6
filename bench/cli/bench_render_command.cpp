// quillow-render's speed: a batch of 1000 strips of 1 to 10 characters to
// indexed PNG on every core and on one thread, the same strips rendered and
// exported in-process without the batch around them, and one process per
// strip. Every benchmark reports the time per strip (manual time), so the
// ratios compare like with like; strips_per_s says the same the other way up.

#include "bench_ratios.h"

#include "cli/batch.h"
#include "cli/job_options.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <atomic>

namespace {

constexpr int kBatchStrips = 1000;
// Starting a process per strip is slow; a tenth of the batch says enough.
constexpr int kProcessStrips = 100;

const QString kFace = QStringLiteral("WenQuanYi Micro Hei");

QTemporaryDir &outputFolder()
{
    static QTemporaryDir folder;
    return folder;
}

// Strip i: 1 + i % 10 characters from a fixed text, random colours from
// seed i, written to s<i>.png (rewritten on every run, as a real batch would
// rewrite its files).
QJsonObject stripObject(int i)
{
    static const QString text = QStringLiteral("友谊的小船说翻就翻我们一起大声喊出来好不好呀今天真开心");
    const int length = 1 + i % 10;
    return {
        {QStringLiteral("phrase"), text.mid(i % (text.size() - 10), length)},
        {QStringLiteral("output"), QDir(outputFolder().path()).filePath(QStringLiteral("s%1.png").arg(i))},
        {QStringLiteral("seed"), i},
        {QStringLiteral("face"), kFace}};
}

// The batch's input, one JSON object per line.
const QByteArray &batchInput()
{
    static const QByteArray input = [] {
        QByteArray made;
        for (int i = 0; i < kBatchStrips; ++i)
            made += QJsonDocument(stripObject(i)).toJson(QJsonDocument::Compact) + '\n';
        return made;
    }();
    return input;
}

void finish(benchmark::State &state, double seconds, int strips)
{
    state.SetIterationTime(seconds / strips);
    state.counters["strips_per_s"] = benchmark::Counter(strips / seconds, benchmark::Counter::kAvgIterations);
}

// Each line renders in a process of its own, as the command runs it.
void runBatchOn(benchmark::State &state, int workers)
{
    for (auto _ : state) {
        QBuffer input;
        input.setData(batchInput());
        input.open(QIODevice::ReadOnly);
        QBuffer results;
        results.open(QIODevice::WriteOnly);
        const std::atomic<int> stop{0};
        QElapsedTimer timer;
        timer.start();
        const int failed = runBatch(input, JobDraft(), results, workers, stop).failed;
        finish(state, timer.nsecsElapsed() / 1e9, kBatchStrips);
        if (failed != 0)
            state.SkipWithError("a batch line failed");
    }
}

void BM_BatchAllCores(benchmark::State &state)
{
    runBatchOn(state, QThread::idealThreadCount());
}

void BM_BatchOneThread(benchmark::State &state)
{
    runBatchOn(state, 1);
}

// The floor of a batch: the same jobs, parsed beforehand, rendered and
// exported one after the other on this thread.
void BM_RenderAndExportInProcess(benchmark::State &state)
{
    std::vector<RenderJob> jobs;
    for (const QByteArray &line : batchInput().split('\n')) {
        if (!line.isEmpty())
            jobs.push_back(jobFromJsonLine(line, JobDraft()));
    }
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (const RenderJob &job : jobs)
            runRenderJob(job);
        finish(state, timer.nsecsElapsed() / 1e9, kBatchStrips);
    }
}

// Runs `program` with `arguments` `kStartups` times; the time per run.
constexpr int kStartups = 30;

void timeStartups(benchmark::State &state, const QString &program, const QStringList &arguments)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kStartups; ++i) {
            QProcess process;
            process.start(program, arguments);
            if (!process.waitForFinished(-1) || process.exitCode() != 0) {
                state.SkipWithError("the program failed");
                return;
            }
        }
        finish(state, timer.nsecsElapsed() / 1e9, kStartups);
    }
}

// What a bot pays per request: one strip of nine characters, start to end.
void BM_OneStrip(benchmark::State &state)
{
    const QString output = QDir(outputFolder().path()).filePath(QStringLiteral("one.png"));
    timeStartups(state, QStringLiteral(QUILLOW_RENDER_PATH),
                 {QStringLiteral("--face"), kFace, QStringLiteral("--seed"), QStringLiteral("1"),
                  QStringLiteral("-o"), output, QStringLiteral("友谊的小船说翻就翻")});
}

// A bare Qt program drawing the same line into a picture saved as PNG.
void BM_StripFloor(benchmark::State &state)
{
    timeStartups(state, QStringLiteral(STRIP_FLOOR_PATH),
                 {QDir(outputFolder().path()).filePath(QStringLiteral("floor.png"))});
}

void BM_ProcessPerStrip(benchmark::State &state)
{
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kProcessStrips; ++i) {
            const QJsonObject strip = stripObject(i);
            QProcess process;
            process.start(QStringLiteral(QUILLOW_RENDER_PATH),
                          {QStringLiteral("--face"), kFace, QStringLiteral("--seed"), QString::number(i),
                           QStringLiteral("-o"), strip.value(QStringLiteral("output")).toString(),
                           strip.value(QStringLiteral("phrase")).toString()});
            if (!process.waitForFinished(-1) || process.exitCode() != 0) {
                state.SkipWithError("quillow-render failed");
                return;
            }
        }
        finish(state, timer.nsecsElapsed() / 1e9, kProcessStrips);
    }
}

} // namespace

BENCHMARK(BM_BatchAllCores)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchOneThread)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAndExportInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessPerStrip)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneStrip)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StripFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

std::vector<BenchRatio> benchRatios()
{
    return {
        {"batch, one thread / all cores (speed-up)", "BM_BatchOneThread/iterations:1/manual_time",
         "BM_BatchAllCores/iterations:1/manual_time", ">= 1.7 on 2 cores"},
        {"one strip, start to end / bare Qt program drawing a line", "BM_OneStrip/iterations:1/manual_time",
         "BM_StripFloor/iterations:1/manual_time", "<= 1.2"},
        {"batch per strip, one thread / in-process render+export",
         "BM_BatchOneThread/iterations:1/manual_time", "BM_RenderAndExportInProcess/iterations:1/manual_time",
         "<= 1.3"},
        {"one process per strip / batch on all cores, per strip",
         "BM_ProcessPerStrip/iterations:1/manual_time", "BM_BatchAllCores/iterations:1/manual_time",
         "(for information)"},
    };
}
