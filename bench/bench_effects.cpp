// Animated effects and the sticker look: what a ten-character reveal-shake
// with an outline and a shadow costs against the still it grows from.

#include "bench_ratios.h"
#include "ten_characters.h"

#include "composition/effect_frames.h"
#include "composition/sticker_look.h"
#include "composition/strip_rendering.h"

#include <benchmark/benchmark.h>

namespace {

StickerLook outlineAndShadow()
{
    StickerLook look;
    look.outlineWidth = 3;
    look.shadow = true;
    return look;
}

// The png-alpha still: the baseline every effect is judged against.
void BM_RenderStill(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            renderStrip(tenCharacters(), StripGround::Transparent, Qt::black).constBits());
}
BENCHMARK(BM_RenderStill)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_RevealShake(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            renderEffect(tenCharacters(), Qt::black, Effect::RevealShake, {}, StickerLook{}, 42)
                .frames.size());
}
BENCHMARK(BM_RevealShake)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RevealShakeOutlineShadow(benchmark::State &state)
{
    const StickerLook look = outlineAndShadow();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            renderEffect(tenCharacters(), Qt::black, Effect::RevealShake, {}, look, 42).frames.size());
}
BENCHMARK(BM_RevealShakeOutlineShadow)->Unit(benchmark::kMillisecond)->UseRealTime();

// The look on the still alone: one frame's share of the cost above.
void BM_StillOutlineShadow(benchmark::State &state)
{
    const StickerLook look = outlineAndShadow();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            applyStickerLook(renderStrip(tenCharacters(), StripGround::Transparent, Qt::black), look)
                .constBits());
}
BENCHMARK(BM_StillOutlineShadow)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The widest outline, where a look-up over a disc would cost the most.
void BM_StillOutline12(benchmark::State &state)
{
    StickerLook look;
    look.outlineWidth = 12;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            applyStickerLook(renderStrip(tenCharacters(), StripGround::Transparent, Qt::black), look)
                .constBits());
}
BENCHMARK(BM_StillOutline12)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {
        {"reveal-shake with outline 3 and shadow / still (png-alpha)",
         "BM_RevealShakeOutlineShadow/real_time", "BM_RenderStill/real_time",
         "(for information; 16 distinct frames of 23)"},
        {"reveal-shake, plain / still", "BM_RevealShake/real_time", "BM_RenderStill/real_time",
         "(for information)"},
        {"still with outline 3 and shadow / still", "BM_StillOutlineShadow/real_time",
         "BM_RenderStill/real_time", "(for information)"},
        {"still with outline 12 / with outline 3 and shadow", "BM_StillOutline12/real_time",
         "BM_StillOutlineShadow/real_time", "close to 1 (cost does not grow with the width)"},
    };
}
