// The shared main of the bench programs: runs the registered benchmarks with
// the console reporter, remembering what each repetition measured, and prints
// the program's ratios at the end so that a reader need not divide by hand.

#include "bench_ratios.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

class RememberingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        std::vector<Run> shown;
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                remember(run);
            // With repetitions the aggregates stand for the benchmark on
            // screen; the single repetitions only feed the ratios.
            if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1 || run.error_occurred)
                shown.push_back(run);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }

    // Each ratio is the median of the numerator over the median of the
    // denominator: the machine is shared, and one slow repetition should not
    // move it. The spread is the range of the ratios of the repetitions taken
    // pairwise, in the order they ran.
    void printRatios() const
    {
        std::printf("\nRatios (median of the repetitions; spread over the repetitions' own ratios):\n");
        for (const BenchRatio &ratio : benchRatios()) {
            const std::vector<double> *top = samples(ratio.numerator);
            const std::vector<double> *bottom = samples(ratio.denominator);
            if (!top || !bottom || median(*bottom) <= 0) {
                std::printf("  %-62s (not run)\n", ratio.label.c_str());
                continue;
            }
            std::string spread;
            if (top->size() == bottom->size() && top->size() > 1) {
                std::vector<double> pairs;
                for (std::size_t i = 0; i < top->size(); ++i)
                    if ((*bottom)[i] > 0)
                        pairs.push_back((*top)[i] / (*bottom)[i]);
                if (!pairs.empty()) {
                    const auto [low, high] = std::minmax_element(pairs.begin(), pairs.end());
                    char text[48];
                    std::snprintf(text, sizeof text, "%.2f-%.2f", *low, *high);
                    spread = text;
                }
            }
            std::printf("  %-62s %6.2f  %-11s goal %s\n", ratio.label.c_str(), median(*top) / median(*bottom),
                        spread.c_str(), ratio.goal.c_str());
        }
    }

private:
    void remember(const Run &run)
    {
        auto &measured = m_samples[run.run_name.str()];
        measured[std::string()].push_back(run.GetAdjustedRealTime() /
                                          benchmark::GetTimeUnitMultiplier(run.time_unit));
        for (const auto &[name, counter] : run.counters)
            measured[name].push_back(counter.value);
    }

    const std::vector<double> *samples(const BenchQuantity &quantity) const
    {
        const auto bench = m_samples.find(quantity.benchmark);
        if (bench == m_samples.end())
            return nullptr;
        const auto values = bench->second.find(quantity.counter);
        return values == bench->second.end() || values->second.empty() ? nullptr : &values->second;
    }

    // Benchmark name -> quantity (empty for real time, else a counter) ->
    // one value per repetition.
    std::map<std::string, std::map<std::string, std::vector<double>>> m_samples;
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
