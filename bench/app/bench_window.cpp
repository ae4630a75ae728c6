// The main window in process, on the offscreen platform: building, showing
// and tearing down TMainFrm against a bare window of the same size with a
// line of Chinese, the same while the font list takes its time (the window
// must not wait for it), "预览" for a ten-character phrase until the strip is
// painted, and the memory that a thousand previews of one phrase leave.

#include "bench_ratios.h"
#include "process_memory.h"
#include "window_parts.h"

#include "app/window/MainUnt.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <memory>
#include <string>

namespace {

bool haveWidgets(benchmark::State &state)
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return true;
    state.SkipWithError("the bench main must create a QApplication for widgets");
    return false;
}

void BM_BareWindowShow(benchmark::State &state)
{
    if (!haveWidgets(state))
        return;
    for (auto _ : state) {
        QWidget window;
        window.resize(TMainFrm::kDesignSize);
        QLabel label(QStringLiteral("友谊的小船说翻就翻"), &window);
        window.show();
        QCoreApplication::processEvents();
        window.repaint();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(BM_BareWindowShow)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): 0 lists the installed fonts, 1 holds the list back until the
// window is gone. Like the bare window, the timing includes the teardown.
void BM_MainWindowShow(benchmark::State &state)
{
    if (!haveWidgets(state))
        return;
    const bool slowFonts = state.range(0) == 1;
    for (auto _ : state) {
        auto gate = std::make_shared<QSemaphore>(0);
        FontEnumerator fonts = installedFontFaces;
        if (slowFonts)
            fonts = [gate] {
                gate->acquire();
                return installedFontFaces();
            };
        {
            TMainFrm window(fonts);
            window.show();
            QCoreApplication::processEvents();
            window.repaint();
            benchmark::DoNotOptimize(window.isVisible());
        }
        // The worker, held back or not, finishes outside the clock: left
        // running, it would compete with the next window.
        state.PauseTiming();
        gate->release();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MainWindowShow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewTenCharacters(benchmark::State &state)
{
    if (!haveWidgets(state))
        return;
    TMainFrm window;
    const WindowParts ui(window);
    ui.edtMain->setText(QStringLiteral("我们一起大声喊出来吧"));
    window.show();
    QCoreApplication::processEvents();
    QPushButton *preview = ui.btnPreview;
    QWidget *previewRegion = ui.pnlsave;
    for (auto _ : state) {
        preview->click();
        previewRegion->repaint();
    }
}
BENCHMARK(BM_PreviewTenCharacters)->Unit(benchmark::kMillisecond)->UseRealTime();

double residentMiB()
{
    return double(processMemoryKiB("VmRSS:")) / 1024.0;
}

double heapInUseMiB()
{
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Memory after the first ten previews of the default phrase and after a
// thousand more: every preview replaces the strip, so nothing should pile up.
void BM_PreviewMemory(benchmark::State &state)
{
    if (!haveWidgets(state))
        return;
    TMainFrm window;
    const WindowParts ui(window);
    window.show();
    QCoreApplication::processEvents();
    QPushButton *preview = ui.btnPreview;
    QWidget *previewRegion = ui.pnlsave;
    const auto previews = [&](int count) {
        for (int i = 0; i < count; ++i) {
            preview->click();
            previewRegion->repaint();
            QCoreApplication::processEvents();
        }
    };
    for (auto _ : state) {
        previews(10);
        state.counters["rss_10_MiB"] = residentMiB();
        state.counters["heap_10_MiB"] = heapInUseMiB();
        previews(1000);
        state.counters["rss_1010_MiB"] = residentMiB();
        state.counters["heap_1010_MiB"] = heapInUseMiB();
    }
}
BENCHMARK(BM_PreviewMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    const std::string memory = "BM_PreviewMemory/iterations:1/real_time";
    return {
        {"main window shown / bare window shown, teardown included",
         {"BM_MainWindowShow/0/real_time"},
         {"BM_BareWindowShow/real_time"},
         "(for information; the process start is judged)"},
        {"main window shown, slow font list / fonts listed",
         {"BM_MainWindowShow/1/real_time"},
         {"BM_MainWindowShow/0/real_time"},
         "<= 1 (no waiting)"},
        {"resident memory after 1010 / after 10 previews",
         {memory, "rss_1010_MiB"},
         {memory, "rss_10_MiB"},
         "close to 1 (flat)"},
        {"heap in use after 1010 / after 10 previews",
         {memory, "heap_1010_MiB"},
         {memory, "heap_10_MiB"},
         "close to 1 (flat)"},
    };
}
