// The animated outputs: how close our files come to what the best
// optimisers make of them, what a reveal costs beyond its still, and how
// long encoding takes against the PNG with alpha of the same strip.

#include "animation_checks.h"
#include "bench_ratios.h"

#include "export/alpha_png.h"
#include "export/animation_decoding.h"
#include "export/apng_writer.h"
#include "export/gif_writer.h"
#include "export/output_format.h"
#include "export/palette_quantiser.h"
#include "export/webm_writer.h"
#include "export/webp_writer.h"
#include "sticker/sticker_fit.h"

#include "composition/effect_frames.h"
#include "composition/sticker_look.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <optional>

namespace {

// Nine characters in random colours appearing one by one: the default
// phrase's reveal.
const Animation &reveal()
{
    static const Animation animation = revealOf(phraseSettings(kInitialPhrase));
    return animation;
}

// The finished strip alone, as a one-frame animation.
const Animation &still()
{
    static const Animation animation{{{reveal().frames.back().image, 0}}, 0};
    return animation;
}

QByteArray alphaPng(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeAlphaPng(image, buffer);
    return buffer.data();
}

// The size of what `program` makes of `input`, written to a scratch file
// named `inputName`, with `arguments` (where "IN" and "OUT" stand for the
// two files); nothing when the program is absent or fails.
std::optional<qint64> optimisedSize(const QString &program, const QStringList &arguments,
                                    const QByteArray &input, const QString &inputName,
                                    const QString &outputName)
{
    const QString executable = QStandardPaths::findExecutable(program);
    QTemporaryDir folder;
    if (executable.isEmpty() || !folder.isValid())
        return std::nullopt;
    // Names relative to the folder: apngopt takes a leading "/" for an
    // option.
    QFile in(folder.filePath(inputName));
    if (!in.open(QIODevice::WriteOnly) || in.write(input) != input.size())
        return std::nullopt;
    in.close();
    QStringList actual;
    for (const QString &argument : arguments)
        actual << (argument == QLatin1String("IN")    ? inputName
                   : argument == QLatin1String("OUT") ? outputName
                                                      : argument);
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.start(executable, actual);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    const QFileInfo out(folder.filePath(outputName));
    return out.exists() ? std::optional<qint64>(out.size()) : std::nullopt;
}

// Our file against an optimiser's version of it, once: bytes of each.
void compareWithOptimiser(benchmark::State &state, const QByteArray &ours, const QString &program,
                          const QStringList &arguments, const QString &inputName, const QString &outputName)
{
    std::optional<qint64> optimised;
    for (auto _ : state)
        optimised = optimisedSize(program, arguments, ours, inputName, outputName);
    if (!optimised) {
        state.SkipWithError(qPrintable(program + QStringLiteral(" is not installed or failed; row skipped")));
        return;
    }
    state.counters["ours"] = double(ours.size());
    state.counters["optimised"] = double(*optimised);
}

void BM_ApngReveal(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeApng(reveal()).bytes.size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_ApngReveal)->Unit(benchmark::kMillisecond)->UseRealTime();

// The shared palette alone: libimagequant's histogram of every frame, the
// palette, and each pixel mapped.
void BM_QuantiseReveal(benchmark::State &state)
{
    const std::vector<QImage> frames = straightFrames(reveal());
    for (auto _ : state)
        benchmark::DoNotOptimize(quantiseFrames(frames).quality);
}
BENCHMARK(BM_QuantiseReveal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApngStill(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeApng(still()).bytes.size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_ApngStill)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AlphaPngStill(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(alphaPng(still().frames.front().image).size());
}
BENCHMARK(BM_AlphaPngStill)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApngOptimiser(benchmark::State &state)
{
    compareWithOptimiser(state, encodeApng(reveal()).bytes, QStringLiteral("apngopt"), {"IN", "OUT"},
                         QStringLiteral("ours.png"), QStringLiteral("optimised.png"));
}
BENCHMARK(BM_ApngOptimiser)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_GifReveal(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeGif(reveal()).bytes.size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_GifReveal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WebpReveal(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeWebp(reveal()).bytes.size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_WebpReveal)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GifOptimiser(benchmark::State &state)
{
    compareWithOptimiser(state, encodeGif(reveal()).bytes, QStringLiteral("gifsicle"),
                         {"-O3", "IN", "-o", "OUT"}, QStringLiteral("ours.gif"),
                         QStringLiteral("optimised.gif"));
}
BENCHMARK(BM_GifOptimiser)->Iterations(1)->Unit(benchmark::kMillisecond);

// pngquant at its most thorough on the png-alpha still, against our still
// APNG: both indexed with alpha at comparable quality.
void BM_PngquantStill(benchmark::State &state)
{
    std::optional<qint64> quantised;
    for (auto _ : state)
        quantised = optimisedSize(QStringLiteral("pngquant"), {"--speed", "1", "--output", "OUT", "IN"},
                                  alphaPng(still().frames.front().image), QStringLiteral("still.png"),
                                  QStringLiteral("quantised.png"));
    if (!quantised) {
        state.SkipWithError("pngquant is not installed or failed; row skipped");
        return;
    }
    state.counters["ours"] = double(encodeApng(still()).bytes.size());
    state.counters["pngquant"] = double(*quantised);
}
BENCHMARK(BM_PngquantStill)->Iterations(1)->Unit(benchmark::kMillisecond);

// The default phrase's reveal with 100 ms steps: every frame lasts a whole
// number of 30 fps video frames, so a frame sequence handed to ffmpeg shows
// exactly what our video shows.
const Animation &videoReveal()
{
    static const Animation animation = revealOf(phraseSettings(kInitialPhrase), 100, 1500);
    return animation;
}

// Ten characters appearing one by one, the longest reveal, drawn as a
// Telegram sticker is: redrawn so that its longest side is 512 px.
const Animation &tenCharacterReveal()
{
    static const Animation animation = [] {
        const StickerFit fit = fitStrip(laidOutStrip(phraseSettings(QStringLiteral("我们一起大声喊出来吧"))),
                                        StickerSizeRule::LongestExactly, 512, QMargins());
        return centredOnCanvas(renderEffect(fit.layout, Qt::black, Effect::Reveal, {}, {}, 0, 1.0, fit.dpi),
                               fit.canvas);
    }();
    return animation;
}

// What ffmpeg's own libvpx-vp9 encoder makes of `animation` (each frame
// repeated for its 30 fps share) at `crf`, on one thread as ours runs.
std::optional<qint64> ffmpegWebmSize(const Animation &animation, int crf)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QTemporaryDir folder;
    if (ffmpeg.isEmpty() || !folder.isValid())
        return std::nullopt;
    int index = 0;
    for (const AnimationFrame &frame : animation.frames) {
        const int repeats = std::max(1, frame.delayMs * 30 / 1000);
        for (int i = 0; i < repeats; ++i) {
            if (!frame.image.save(
                    folder.filePath(QStringLiteral("f%1.png").arg(index++, 4, 10, QChar(u'0')))))
                return std::nullopt;
        }
    }
    QProcess process;
    process.setWorkingDirectory(folder.path());
    process.start(ffmpeg,
                  {"-v", "error", "-framerate", "30", "-i", "f%04d.png", "-c:v", "libvpx-vp9", "-pix_fmt",
                   "yuva420p", "-crf", QString::number(crf), "-b:v", "0", "-threads", "1", "out.webm"});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QFileInfo(folder.filePath(QStringLiteral("out.webm"))).size();
}

void BM_WebmFfmpeg(benchmark::State &state)
{
    std::optional<qint64> theirs;
    for (auto _ : state)
        theirs = ffmpegWebmSize(videoReveal(), kDefaultWebmCrf);
    if (!theirs) {
        state.SkipWithError("ffmpeg is not installed or failed; row skipped");
        return;
    }
    state.counters["ours"] = double(encodeWebm(videoReveal()).bytes.size());
    state.counters["ffmpeg"] = double(*theirs);
}
BENCHMARK(BM_WebmFfmpeg)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_WebmReveal10(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeWebm(tenCharacterReveal()).bytes.size();
    state.counters["bytes"] = double(bytes);
    state.counters["width"] = tenCharacterReveal().frames.front().image.width();
    state.counters["height"] = tenCharacterReveal().frames.front().image.height();
}
BENCHMARK(BM_WebmReveal10)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the sticker dialog does before it can play a video sticker.
void BM_WebmDecodeReveal10(benchmark::State &state)
{
    const QByteArray video = encodeWebm(tenCharacterReveal()).bytes;
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeAnimation(video, *outputFormatNamed(u"webm")).frames.size());
}
BENCHMARK(BM_WebmDecodeReveal10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApngReveal10(benchmark::State &state)
{
    qint64 bytes = 0;
    for (auto _ : state)
        bytes = encodeApng(tenCharacterReveal()).bytes.size();
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(BM_ApngReveal10)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {
        {"APNG reveal-9: ours / apngopt",
         {"BM_ApngOptimiser/iterations:1", "ours"},
         {"BM_ApngOptimiser/iterations:1", "optimised"},
         "<= 1.03"},
        {"GIF reveal-9: ours / gifsicle -O3",
         {"BM_GifOptimiser/iterations:1", "ours"},
         {"BM_GifOptimiser/iterations:1", "optimised"},
         "<= 1.03"},
        {"WEBM reveal-9: ours / ffmpeg libvpx-vp9 yuva420p, same crf",
         {"BM_WebmFfmpeg/iterations:1", "ours"},
         {"BM_WebmFfmpeg/iterations:1", "ffmpeg"},
         "<= 1.05"},
        {"reveal-10 at 512 px (Telegram): WEBM encode / APNG encode, time",
         {"BM_WebmReveal10/real_time"},
         {"BM_ApngReveal10/real_time"},
         "(reported)"},
        {"reveal-10 at 512 px: WEBM decode for the preview / WEBM encode, time",
         {"BM_WebmDecodeReveal10/real_time"},
         {"BM_WebmReveal10/real_time"},
         "(reported)"},
        {"reveal-9 APNG / one-frame APNG, bytes",
         {"BM_ApngReveal/real_time", "bytes"},
         {"BM_ApngStill/real_time", "bytes"},
         "<= 1.1"},
        {"still APNG / pngquant --speed 1 of png-alpha, bytes",
         {"BM_PngquantStill/iterations:1", "ours"},
         {"BM_PngquantStill/iterations:1", "pngquant"},
         "<= 1.05"},
        {"reveal-9 APNG encode / png-alpha still encode, time",
         {"BM_ApngReveal/real_time"},
         {"BM_AlphaPngStill/real_time"},
         "<= 3"},
    };
}
