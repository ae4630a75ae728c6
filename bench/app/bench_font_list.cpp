// The font list on a machine with many faces: the program started, its font
// list opened with a click and scrolled to its end (font_list_probe) against
// the bare window with a line of Chinese (startup_floor). Both child
// processes see the benchmark's own font configuration (FONT_LIST_CONF): the
// system's faces and at least 120 renamed copies of them. Peak memory is
// compared with the floor's; the time from the click to the open list is
// compared with the 50 ms in which a list feels immediate.
// Offscreen only: on a private X server the probe's synthesized click does
// not yet open the list.

#include "bench_ratios.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

constexpr double kImmediateMs = 50;

// The numbers a child program prints on its one line; empty when it failed.
QList<long long> report(const char *program, const QProcessEnvironment &environment)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setStandardErrorFile(QProcess::nullDevice());
    probe.start(QString::fromLocal8Bit(program), {});
    if (!probe.waitForFinished(60000) || probe.exitStatus() != QProcess::NormalExit ||
        probe.exitCode() != 0) {
        probe.kill();
        probe.waitForFinished();
        return {};
    }
    QList<long long> numbers;
    for (const QByteArray &field : probe.readAllStandardOutput().simplified().split(' ')) {
        bool ok = false;
        numbers.append(field.toLongLong(&ok));
        if (!ok)
            return {};
    }
    return numbers;
}

void BM_FontListOpen(benchmark::State &state)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FONTCONFIG_FILE"), QStringLiteral(FONT_LIST_CONF));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    double openMs = 0;
    double listMiB = 0;
    double floorMiB = 0;
    bool floorFirst = true;
    for (auto _ : state) {
        QList<long long> floor;
        QList<long long> list;
        if (floorFirst) {
            floor = report(STARTUP_FLOOR, environment);
            list = report(FONT_LIST_PROBE, environment);
        } else {
            list = report(FONT_LIST_PROBE, environment);
            floor = report(STARTUP_FLOOR, environment);
        }
        floorFirst = !floorFirst;
        // The floor prints "<painted> <cpu> <peak>", the probe "<open> <peak>".
        if (floor.size() != 3 || list.size() != 2) {
            state.SkipWithError("a probe did not report cleanly");
            break;
        }
        state.SetIterationTime(double(list[0]) / 1e9);
        openMs += double(list[0]) / 1e6;
        listMiB += double(list[1]) / 1024.0;
        floorMiB += double(floor[2]) / 1024.0;
    }
    const auto average = [](double sum) {
        return benchmark::Counter(sum, benchmark::Counter::kAvgIterations);
    };
    state.counters["open_ms"] = average(openMs);
    state.counters["list_MiB"] = average(listMiB);
    state.counters["floor_MiB"] = average(floorMiB);
    state.counters["immediate_ms"] = kImmediateMs;
}
BENCHMARK(BM_FontListOpen)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(4);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    const std::string offscreen = "BM_FontListOpen/iterations:4/manual_time";
    return {
        {"peak memory, font list opened and at its end / floor, offscreen",
         {offscreen, "list_MiB"},
         {offscreen, "floor_MiB"},
         "<= 1.15"},
        {"click to open font list / 50 ms, offscreen",
         {offscreen, "open_ms"},
         {offscreen, "immediate_ms"},
         "<= 1"},
    };
}
