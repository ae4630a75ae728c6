// Process start to the first painted window, and the peak memory once the
// program is at rest: the real program's start-up (startup_probe: its
// application set-up, the main window with its controls, the font list on
// its worker) against the floor (startup_floor: a bare Qt window of the same
// size showing a line of Chinese). Both are child processes that report the
// moment of their first paint and their peak memory; their teardown is
// never timed. Each iteration starts both, alternating which goes first, so
// that a busy moment of the machine falls on both sides alike.
//
// Argument 0 runs them on the offscreen platform, 1 on the X server named
// by DISPLAY (run the program under xvfb-run).

#include "bench_ratios.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <utility>

namespace {

struct Start {
    double seconds = 0;    // from launch to first paint
    double cpuSeconds = 0; // used by the process until its first paint
    double peakMiB = 0;    // at rest
};

std::optional<Start> startOnce(const char *program, const QProcessEnvironment &environment)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    // The platforms chatter on stderr about what they cannot do.
    probe.setStandardErrorFile(QProcess::nullDevice());
    const auto launched = std::chrono::steady_clock::now();
    probe.start(QString::fromLocal8Bit(program), {});
    if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() != 0) {
        probe.kill();
        probe.waitForFinished();
        return std::nullopt;
    }
    const QList<QByteArray> fields = probe.readAllStandardOutput().simplified().split(' ');
    if (fields.size() != 3)
        return std::nullopt;
    bool paintedOk = false;
    bool cpuOk = false;
    bool peakOk = false;
    const qint64 painted = fields[0].toLongLong(&paintedOk);
    const qint64 cpu = fields[1].toLongLong(&cpuOk);
    const qint64 peakKiB = fields[2].toLongLong(&peakOk);
    if (!paintedOk || !cpuOk || !peakOk || peakKiB <= 0)
        return std::nullopt;
    const auto launchedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(launched.time_since_epoch()).count();
    return Start{double(painted - launchedNs) / 1e9, double(cpu) / 1e9, double(peakKiB) / 1024.0};
}

void BM_ProcessStart(benchmark::State &state)
{
    const bool onX = state.range(0) == 1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (onX) {
        if (environment.value(QStringLiteral("DISPLAY")).isEmpty()) {
            state.SkipWithError("no X server: run under xvfb-run");
            return;
        }
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    } else {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    Start floorSum;
    Start mainSum;
    bool floorFirst = true;
    for (auto _ : state) {
        std::optional<Start> floorStart;
        std::optional<Start> mainStart;
        if (floorFirst) {
            floorStart = startOnce(STARTUP_FLOOR, environment);
            mainStart = startOnce(STARTUP_PROBE, environment);
        } else {
            mainStart = startOnce(STARTUP_PROBE, environment);
            floorStart = startOnce(STARTUP_FLOOR, environment);
        }
        floorFirst = !floorFirst;
        if (!floorStart || !mainStart) {
            state.SkipWithError("a start-up probe did not report cleanly");
            break;
        }
        state.SetIterationTime(mainStart->seconds);
        for (auto [sum, start] : {std::pair{&floorSum, *floorStart}, std::pair{&mainSum, *mainStart}}) {
            sum->seconds += start.seconds;
            sum->cpuSeconds += start.cpuSeconds;
            sum->peakMiB += start.peakMiB;
        }
    }
    const auto average = [](double sum) {
        return benchmark::Counter(sum, benchmark::Counter::kAvgIterations);
    };
    state.counters["floor_ms"] = average(floorSum.seconds * 1e3);
    state.counters["main_ms"] = average(mainSum.seconds * 1e3);
    state.counters["floor_cpu_ms"] = average(floorSum.cpuSeconds * 1e3);
    state.counters["main_cpu_ms"] = average(mainSum.cpuSeconds * 1e3);
    state.counters["floor_MiB"] = average(floorSum.peakMiB);
    state.counters["main_MiB"] = average(mainSum.peakMiB);
}
BENCHMARK(BM_ProcessStart)
    ->ArgName("x11")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(6);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    const std::string offscreen = "BM_ProcessStart/x11:0/iterations:6/manual_time";
    const std::string x11 = "BM_ProcessStart/x11:1/iterations:6/manual_time";
    return {
        {"start to first paint / floor, offscreen",
         {offscreen, "main_ms"},
         {offscreen, "floor_ms"},
         "<= 1.3"},
        {"start to first paint / floor, X server", {x11, "main_ms"}, {x11, "floor_ms"}, "<= 1.3"},
        {"processor time to first paint / floor, offscreen",
         {offscreen, "main_cpu_ms"},
         {offscreen, "floor_cpu_ms"},
         "(steadier when the machine is busy)"},
        {"processor time to first paint / floor, X server",
         {x11, "main_cpu_ms"},
         {x11, "floor_cpu_ms"},
         "(steadier when the machine is busy)"},
        {"peak memory at rest / floor, offscreen",
         {offscreen, "main_MiB"},
         {offscreen, "floor_MiB"},
         "<= 1.15"},
        {"peak memory at rest / floor, X server", {x11, "main_MiB"}, {x11, "floor_MiB"}, "<= 1.15"},
    };
}
