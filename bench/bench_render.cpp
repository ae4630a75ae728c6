// The one rendering of the strip: what a preview, a capture and a copy cost
// beyond the layout, at the screen's usual device pixel ratios.

#include "bench_ratios.h"
#include "ten_characters.h"

#include "composition/strip_rendering.h"
#include "export/clipboard_picture.h"

#include <benchmark/benchmark.h>

namespace {

qreal ratioOf(const benchmark::State &state)
{
    return qreal(state.range(0));
}

void ratios(benchmark::internal::Benchmark *bench)
{
    bench->ArgName("ratio")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// The preview's and the capture's picture, rendered once per preview.
void BM_RenderStripWhite(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            renderStrip(tenCharacters(), StripGround::White, Qt::black, ratioOf(state)).constBits());
}
BENCHMARK(BM_RenderStripWhite)->Apply(ratios);

void BM_RenderStripTransparent(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            renderStrip(tenCharacters(), StripGround::Transparent, Qt::black, ratioOf(state)).constBits());
}
BENCHMARK(BM_RenderStripTransparent)->Apply(ratios);

// Everything Ctrl+Shift+C does before the clipboard takes over: render on a
// transparent ground and encode the PNG with alpha.
void BM_CopyPicture(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(stripMimeData(tenCharacters(), Qt::black, ratioOf(state)).get());
}
BENCHMARK(BM_CopyPicture)->Apply(ratios);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {
        {"transparent / white rendering, ratio 1", "BM_RenderStripTransparent/ratio:1/real_time",
         "BM_RenderStripWhite/ratio:1/real_time", "close to 1"},
        {"white rendering, ratio 2 / ratio 1", "BM_RenderStripWhite/ratio:2/real_time",
         "BM_RenderStripWhite/ratio:1/real_time", "about 4 (pixels) or less"},
        {"copy (render + PNG) / transparent rendering, ratio 1", "BM_CopyPicture/ratio:1/real_time",
         "BM_RenderStripTransparent/ratio:1/real_time", "(for information)"},
    };
}
