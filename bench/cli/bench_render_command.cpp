// quillow-render's speed: a batch of 1000 strips of 1 to 10 characters to
// indexed PNG on every core and on one thread, the same strips rendered and
// exported in-process without the batch around them, and one process per
// strip. Every benchmark reports the time per strip (manual time), so the
// ratios compare like with like; strips_per_s says the same the other way up.
// Then its memory: the peak of a long batch against a short one.

#include "bench_ratios.h"
#include "process_memory.h"

#include "jobs/batch.h"
#include "jobs/job_options.h"

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
#include <csignal>
#include <optional>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

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

// The batch reads its lines as they arrive and keeps only a few in flight,
// so its memory must not grow with the input. The goal compares 100,000
// lines with 1,000, but a line costs about 5 ms of a 2-core machine (a
// process is forked for each), so the long batch has 20,000 lines: about
// two minutes.
constexpr int kShortBatchLines = 1000;
constexpr int kLongBatchLines = 20000;

// What one batch process used at its peak.
struct BatchPeak {
    double batchMiB = 0;   // the batch process itself (VmHWM)
    double largestMiB = 0; // the largest of it and the children it forked (ru_maxrss)
};

// Runs `quillow-render --batch -` on `lines` lines of one character each,
// written over four BMP files in a folder of its own, feeding standard input
// through a pipe while the results are read. Once every line has its result
// the input is still open, so the process is alive and its peak can be read
// whole from /proc; then the input closes and wait4 gives the peak of the
// largest process, children included. Nothing when a line fails or the
// process ends early.
std::optional<BatchPeak> runBatchForPeak(int lines)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    QByteArray input;
    for (int i = 0; i < lines; ++i) {
        const QJsonObject line{
            {QStringLiteral("phrase"), QStringLiteral("喊")},
            {QStringLiteral("output"), QDir(folder.path()).filePath(QStringLiteral("%1.bmp").arg(i % 4))}};
        input += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }

    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0)
        return std::nullopt;
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = QUILLOW_RENDER_PATH;
    char batch[] = "--batch";
    char standardInput[] = "-";
    char *arguments[] = {program, batch, standardInput, nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (spawned != 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return std::nullopt;
    }
    // A batch that dies early must not take the benchmark with it.
    signal(SIGPIPE, SIG_IGN);
    fcntl(toChild[1], F_SETFL, O_NONBLOCK);

    int writeEnd = toChild[1];
    qsizetype written = 0;
    int results = 0;
    int failed = 0;
    QByteArray partial;
    BatchPeak peak;
    bool ended = false;
    while (!ended) {
        pollfd watched[2] = {{fromChild[0], POLLIN, 0}, {writeEnd, POLLOUT, 0}};
        const bool feeding = writeEnd >= 0 && written < input.size();
        if (poll(watched, feeding ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (feeding && watched[1].revents != 0) {
            const ssize_t sent =
                ::write(writeEnd, input.constData() + written, size_t(input.size() - written));
            if (sent > 0)
                written += sent;
            else if (errno != EAGAIN && errno != EINTR)
                break;
        }
        if (watched[0].revents == 0)
            continue;
        char block[65536];
        const ssize_t got = ::read(fromChild[0], block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended = true;
            continue;
        }
        partial.append(block, got);
        qsizetype end;
        while ((end = partial.indexOf('\n')) >= 0) {
            ++results;
            if (!partial.left(end).contains("\"ok\":true"))
                ++failed;
            partial.remove(0, end + 1);
        }
        if (results == lines && writeEnd >= 0) {
            peak.batchMiB =
                double(processMemoryKiB("VmHWM:", "/proc/" + std::to_string(child) + "/status")) / 1024;
            ::close(writeEnd);
            writeEnd = -1;
        }
    }
    if (writeEnd >= 0)
        ::close(writeEnd);
    ::close(fromChild[0]);
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (!ended || results != lines || failed != 0 || peak.batchMiB <= 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return std::nullopt;
    // On Linux ru_maxrss is in KiB.
    peak.largestMiB = double(usage.ru_maxrss) / 1024;
    return peak;
}

void BM_BatchPeakMemory(benchmark::State &state)
{
    const int lines = int(state.range(0));
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<BatchPeak> peak = runBatchForPeak(lines);
        finish(state, timer.nsecsElapsed() / 1e9, lines);
        if (!peak) {
            state.SkipWithError("the batch failed or ended early");
            return;
        }
        state.counters["batch_MiB"] = peak->batchMiB;
        state.counters["largest_MiB"] = peak->largestMiB;
    }
}

} // namespace

BENCHMARK(BM_BatchAllCores)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchOneThread)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAndExportInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessPerStrip)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneStrip)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StripFloor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
// A peak is the same from run to run, and the long batch takes minutes: one
// repetition, whatever the command line asks for.
BENCHMARK(BM_BatchPeakMemory)
    ->ArgName("lines")
    ->Arg(kShortBatchLines)
    ->Arg(kLongBatchLines)
    ->Iterations(1)
    ->Repetitions(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::vector<BenchRatio> benchRatios()
{
    const auto peakRun = [](int lines) {
        return "BM_BatchPeakMemory/lines:" + std::to_string(lines) + "/iterations:1/repeats:1/manual_time";
    };
    const std::string lineCounts =
        std::to_string(kLongBatchLines) + " lines / " + std::to_string(kShortBatchLines);
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
        {"peak memory of the batch process, " + lineCounts,
         {peakRun(kLongBatchLines), "batch_MiB"},
         {peakRun(kShortBatchLines), "batch_MiB"},
         "<= 1.2"},
        {"peak memory, largest process of the batch, " + lineCounts,
         {peakRun(kLongBatchLines), "largest_MiB"},
         {peakRun(kShortBatchLines), "largest_MiB"},
         "<= 1.2"},
    };
}
