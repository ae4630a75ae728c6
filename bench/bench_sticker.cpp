// Stickers for every chat preset: twenty phrases of one to ten characters,
// emoji among them, with and without an outline, in every effect the preset
// allows. Every file must meet the preset's cap and size; the benchmark
// stops with an error naming the first that does not. It reports the time per
// sticker and the share of it spent making files again to meet the cap.

#include "bench_ratios.h"
#include "laid_out_strip.h"
#include "ten_characters.h"

#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "export/output_format.h"
#include "sticker/sticker.h"
#include "sticker/sticker_preset.h"

#include <QBuffer>
#include <QImageReader>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace {

constexpr const char *kSlowestPreset = "telegram";
constexpr const char *kSlowestEffect = "reveal-shake";

const QStringList &phrases()
{
    static const QStringList all = {
        QStringLiteral("喊"),
        QStringLiteral("加油"),
        QStringLiteral("冲冲冲"),
        QStringLiteral("我太难了"),
        QStringLiteral("友谊的小船"),
        QStringLiteral("今天也要加油"),
        QStringLiteral("我们一起喊"),
        QStringLiteral("早上好呀朋友们"),
        QStringLiteral("友谊的小船说翻就翻"),
        QStringLiteral("我们一起大声喊出来吧"),
        QStringLiteral("加油💪🔥"),
        QStringLiteral("好耶🎉"),
        QStringLiteral("🔥🔥🔥"),
        QStringLiteral("666"),
        QStringLiteral("OK了"),
        QStringLiteral("收到👌"),
        QStringLiteral("哈哈哈哈哈哈哈"),
        QStringLiteral("晚安😴"),
        QStringLiteral("yyds"),
        QStringLiteral("绝绝子！"),
    };
    return all;
}

const std::vector<StripLayout> &strips()
{
    static const std::vector<StripLayout> all = [] {
        std::vector<StripLayout> laidOut;
        for (const QString &phrase : phrases()) {
            StripSettings settings;
            settings.text = phrase;
            laidOut.push_back(laidOutStrip(settings));
        }
        return laidOut;
    }();
    return all;
}

QStringList effectsOf(const StickerPreset &preset)
{
    if (preset.animated.formats.empty())
        return {QStringLiteral("still")};
    return {QStringLiteral("still"), QStringLiteral("reveal"), QStringLiteral("shake"),
            QStringLiteral("reveal-shake")};
}

// Empty when `sticker` is as `preset` says, else what is wrong.
QString broken(const StickerPreset &preset, const Sticker &sticker)
{
    const StickerKind &kind = preset.kind(sticker.frames > 1);
    if (sticker.bytes.size() > kind.cap.bytes())
        return QStringLiteral("%1 bytes over the cap").arg(sticker.bytes.size());
    if (kind.maxFrames && sticker.frames > *kind.maxFrames)
        return QStringLiteral("%1 frames").arg(sticker.frames);
    QByteArray bytes = sticker.bytes;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.canRead() ? reader.size() : sticker.size;
    const int longest = std::max(size.width(), size.height());
    const bool fits = kind.sizeRule == StickerSizeRule::Square           ? size == QSize(kind.side, kind.side)
                      : kind.sizeRule == StickerSizeRule::LongestExactly ? longest == kind.side
                                                                         : longest <= kind.side;
    return fits ? QString() : QStringLiteral("%1 x %2 pixels").arg(size.width()).arg(size.height());
}

void BM_PresetStickers(benchmark::State &state)
{
    const StickerPreset &preset = stickerPresets()[std::size_t(state.range(0))];
    state.SetLabel(preset.name.toStdString());
    double searchNs = 0;
    double totalNs = 0;
    double largestShare = 0;
    int made = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (const StripLayout &strip : strips())
            for (const QString &effect : effectsOf(preset))
                for (const int outline : {0, 3}) {
                    StickerOptions options;
                    options.preset = &preset;
                    options.effect = effectFromName(effect);
                    options.look.outlineWidth = outline;
                    Sticker sticker;
                    QString fault;
                    try {
                        sticker = makeSticker(strip, Qt::black, options);
                        fault = broken(preset, sticker);
                    } catch (const QuillowError &error) {
                        fault = error.message();
                    }
                    if (!fault.isEmpty()) {
                        const QString what = QStringLiteral("%1, %2, outline %3: %4")
                                                 .arg(strip.settings.text, effect)
                                                 .arg(outline)
                                                 .arg(fault);
                        state.SkipWithError(what.toStdString().c_str());
                        return;
                    }
                    searchNs += double(sticker.capSearchNs);
                    largestShare =
                        std::max(largestShare, double(sticker.bytes.size()) /
                                                   double(preset.kind(sticker.frames > 1).cap.bytes()));
                    ++made;
                }
        totalNs += double(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                .count());
    }
    state.counters["ms_per_sticker"] = totalNs / 1e6 / std::max(made, 1);
    state.counters["search_ns"] = searchNs;
    state.counters["total_ns"] = totalNs;
    state.counters["largest_of_cap"] = largestShare;
    state.counters["one"] = 1;
}
BENCHMARK(BM_PresetStickers)
    ->DenseRange(0, 5)
    ->ArgName("preset")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The slowest preset and effect of all on ten characters with an outline
// and a shadow, against the still APNG of the same phrase and look: what
// the window waits for at worst. Measured: Telegram's reveal-shake, a VP9
// video whose encoding (libvpx) takes more than four fifths of the time;
// drawing the frames and their look is under a twentieth.
StickerOptions slowestOptions()
{
    StickerOptions options;
    options.preset = stickerPresetNamed(QString::fromLatin1(kSlowestPreset));
    options.effect = effectFromName(QString::fromLatin1(kSlowestEffect));
    options.look.outlineWidth = 3;
    options.look.shadow = true;
    return options;
}

void BM_SlowestSticker(benchmark::State &state)
{
    const StickerOptions options = slowestOptions();
    for (auto _ : state)
        benchmark::DoNotOptimize(makeSticker(tenCharacters(), Qt::black, options).bytes.size());
}
BENCHMARK(BM_SlowestSticker)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_StillApngSticker(benchmark::State &state)
{
    StickerOptions options = slowestOptions();
    options.preset = nullptr;
    options.effect = Effect::Still;
    options.format = outputFormatNamed(u"apng");
    for (auto _ : state)
        benchmark::DoNotOptimize(makeSticker(tenCharacters(), Qt::black, options).bytes.size());
}
BENCHMARK(BM_StillApngSticker)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

std::vector<BenchRatio> benchRatios()
{
    std::vector<BenchRatio> ratios;
    ratios.push_back({std::string("slowest sticker (") + kSlowestPreset + ", " + kSlowestEffect +
                          ", outline 3 and shadow) / still APNG",
                      "BM_SlowestSticker/iterations:3/real_time", "BM_StillApngSticker/real_time", "<= 10"});
    for (std::size_t i = 0; i < stickerPresets().size(); ++i) {
        const std::string run = "BM_PresetStickers/preset:" + std::to_string(i) + "/iterations:1/real_time";
        const std::string name = stickerPresets()[i].name.toStdString();
        ratios.push_back({"largest file / cap, " + name, {run, "largest_of_cap"}, {run, "one"}, "<= 1"});
        ratios.push_back(
            {"cap search / whole time, " + name, {run, "search_ns"}, {run, "total_ns"}, "(for information)"});
    }
    return ratios;
}
