// The shared main of the bench programs: runs the registered benchmarks with
// the console reporter, remembering each one's real time, and prints the
// program's ratios at the end so that a reader need not divide by hand.

#include "bench_ratios.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>

namespace {

class RememberingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        // With repetitions the median stands for the benchmark: the machine
        // is shared, and one slow repetition should not move a ratio.
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Iteration && !m_medians.count(run.run_name.str()))
                m_seconds[run.run_name.str()] = seconds;
            else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_medians.insert(run.run_name.str());
                m_seconds[run.run_name.str()] = seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const
    {
        std::printf("\nRatios (real time per iteration):\n");
        for (const BenchRatio &ratio : benchRatios()) {
            const auto top = m_seconds.find(ratio.numerator);
            const auto bottom = m_seconds.find(ratio.denominator);
            if (top == m_seconds.end() || bottom == m_seconds.end() || bottom->second <= 0) {
                std::printf("  %-58s (not run)\n", ratio.label.c_str());
                continue;
            }
            std::printf("  %-58s %8.2f   goal %s\n", ratio.label.c_str(), top->second / bottom->second,
                        ratio.goal.c_str());
        }
    }

private:
    std::map<std::string, double> m_seconds;
    std::set<std::string> m_medians;
};

} // namespace

int main(int argc, char **argv)
{
    // Fonts, painting and the window benchmarks need a widget application,
    // never a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RememberingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
