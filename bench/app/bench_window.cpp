// Start-up and preview speed of the main window, measured in process on the
// offscreen platform: building and showing TMainFrm against a bare window of
// the same size, the same while the font list takes its time (the window
// must not wait for it), and "预览" for a ten-character phrase until the
// strip is painted.

#include "bench_ratios.h"

#include "app/MainUnt.h"
#include "app/panel.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>

#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

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
        window.show();
        QCoreApplication::processEvents();
        window.repaint();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(BM_BareWindowShow)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): 0 lists the installed fonts, 1 holds the list back until the
// window is up.
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
            state.PauseTiming();
        }
        gate->release();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MainWindowShow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreviewTenCharacters(benchmark::State &state)
{
    if (!haveWidgets(state))
        return;
    TMainFrm window;
    window.edtMain->setText(QStringLiteral("我们一起大声喊出来吧"));
    window.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        window.btnPreview->click();
        window.pnlsave->repaint();
    }
}
BENCHMARK(BM_PreviewTenCharacters)->Unit(benchmark::kMillisecond)->UseRealTime();

// The font list's worker as it runs once per process: on a thread of its
// own, whose font caches start empty. range(0): 0 only lists and sorts the
// family names, 1 does the whole work (aliases left out, each face asked
// whether it writes Chinese and can draw its name, each name measured).
void BM_FontListWorker(benchmark::State &state)
{
    const bool whole = state.range(0) == 1;
    const QFont listFont(QStringLiteral("WenQuanYi Micro Hei"), 12);
    const QLocale locale = QLocale::system();
    for (auto _ : state) {
        qsizetype listed = 0;
        std::thread worker([&] {
            if (whole) {
                listed = sortedFaces(withShownNames(installedFontFaces(), listFont), locale).size();
            } else {
                QList<FontFace> faces;
                for (const QString &family : QFontDatabase::families())
                    faces.append({family});
                listed = sortedFaces(faces, locale).size();
            }
        });
        worker.join();
        benchmark::DoNotOptimize(listed);
    }
}
BENCHMARK(BM_FontListWorker)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {
        {"main window shown / bare window shown", "BM_MainWindowShow/0/real_time",
         "BM_BareWindowShow/real_time", "report"},
        {"main window shown, slow font list / fonts listed", "BM_MainWindowShow/1/real_time",
         "BM_MainWindowShow/0/real_time", "close to 1 (no waiting)"},
        {"font list worker / names only", "BM_FontListWorker/1/real_time", "BM_FontListWorker/0/real_time",
         "report (off the window thread)"},
    };
}
