// Process start to first window painted: the real program's start-up (its
// application set-up, translations, the main window with its controls and
// the font list starting in the background) against a bare Qt application
// showing an empty window of the same size. Both run as child processes on
// the offscreen platform.

#include "bench_ratios.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <benchmark/benchmark.h>

namespace {

void runProbe(benchmark::State &state, const char *program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto _ : state) {
        QProcess probe;
        probe.setProcessEnvironment(environment);
        // The offscreen platform chatters on stderr about what it cannot do.
        probe.setStandardErrorFile(QProcess::nullDevice());
        probe.start(QString::fromLocal8Bit(program), {});
        if (!probe.waitForFinished(60000) || probe.exitCode() != 0) {
            state.SkipWithError("the start-up probe did not finish cleanly");
            return;
        }
    }
}

void BM_ProcessStartBareWindow(benchmark::State &state) { runProbe(state, STARTUP_PROBE_BARE); }
void BM_ProcessStartMainWindow(benchmark::State &state) { runProbe(state, STARTUP_PROBE_MAIN); }

BENCHMARK(BM_ProcessStartBareWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_ProcessStartMainWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {{"process start to window painted: main / bare window", "BM_ProcessStartMainWindow/iterations:10/real_time",
             "BM_ProcessStartBareWindow/iterations:10/real_time", "report"}};
}
