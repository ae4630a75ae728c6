// Picture export speed, on the default strip as a preview shows it and on a
// large page of text: the PNG writer against zlib alone on the same bytes,
// the memoised reduction against a full palette search per pixel, and the
// BMP writer against one fwrite of the finished file.

#include "bench_ratios.h"
#include "window_parts.h"

#include "app/window/MainUnt.h"
#include "app/window/capture.h"
#include "export/bmp_writer.h"
#include "export/halftone_palette.h"
#include "export/png_writer.h"
#include "export/raster.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

const QString kFace = QStringLiteral("WenQuanYi Micro Hei");

// The default strip as the program saves it: the output area captured after
// "预览" with the window's defaults. The font list is held empty, so the
// strip is drawn in the fallback Chinese face whatever fonts the machine
// has, and comes out 840 x 173 at 96 dpi.
const Raster &stripPicture()
{
    static const Raster picture = [] {
        TMainFrm window([] { return QList<FontFace>(); });
        const WindowParts ui(window);
        window.show();
        if (!ui.cbbfont->isFilled()) {
            QEventLoop untilListed;
            QObject::connect(ui.cbbfont, &FontNameList::listArrived, &untilListed, &QEventLoop::quit);
            untilListed.exec();
        }
        ui.btnPreview->click();
        return CaptureOutputArea(ui.pnlMain);
    }();
    return picture;
}

// A page of text: lines of Chinese and Latin in a few colours.
const Raster &pagePicture()
{
    static const Raster picture = [] {
        QImage image(4096, 1024, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        QFont font(kFace);
        font.setPixelSize(28);
        painter.setFont(font);
        const QList<QColor> colours = {Qt::black, QColor(200, 30, 60), QColor(20, 90, 200),
                                       QColor(30, 130, 40)};
        const QString text = QStringLiteral("我们一起大声喊出来，声音越来越大！Quillow shouts 0123456789 ");
        for (int line = 0; line * 34 < image.height(); ++line) {
            painter.setPen(colours[line % colours.size()]);
            painter.drawText(QPoint(8 - (line * 37) % 200, 30 + line * 34), text.repeated(6));
        }
        return rasterFromImage(image);
    }();
    return picture;
}

const Raster &pictureFor(const benchmark::State &state)
{
    return state.range(0) == 0 ? stripPicture() : pagePicture();
}

void nameArguments(benchmark::internal::Benchmark *bench)
{
    bench->ArgName("page")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// The whole PNG export from the captured picture: reduce, filter, deflate,
// cut into chunks, write.
void BM_PngExport(benchmark::State &state)
{
    const Raster &picture = pictureFor(state);
    state.SetLabel(std::to_string(picture.width) + "x" + std::to_string(picture.height));
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writePng(reduce(picture), buffer);
        benchmark::DoNotOptimize(buffer.data().size());
    }
}
BENCHMARK(BM_PngExport)->Apply(nameArguments);

// The floor: zlib at level 9 on the filtered bytes alone, in one call.
void BM_Compress2Floor(benchmark::State &state)
{
    const std::vector<std::uint8_t> filtered = subFilteredScanlines(reduce(pictureFor(state)));
    std::vector<Bytef> out(compressBound(uLong(filtered.size())));
    for (auto _ : state) {
        uLongf outSize = uLongf(out.size());
        if (compress2(out.data(), &outSize, filtered.data(), uLong(filtered.size()), 9) != Z_OK) {
            state.SkipWithError("compress2 failed");
            break;
        }
        benchmark::DoNotOptimize(outSize);
    }
}
BENCHMARK(BM_Compress2Floor)->Apply(nameArguments);

void BM_ReduceMemoised(benchmark::State &state)
{
    const Raster &picture = pictureFor(state);
    for (auto _ : state)
        benchmark::DoNotOptimize(reduce(picture).indices.data());
}
BENCHMARK(BM_ReduceMemoised)->Apply(nameArguments);

// What the reduction would cost without remembering: a 256-way search for
// every pixel.
void BM_ReducePlainSearch(benchmark::State &state)
{
    const Raster &picture = pictureFor(state);
    for (auto _ : state) {
        std::vector<std::uint8_t> indices(picture.pixels.size());
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
            indices[i] = HalftonePalette::nearestIndex(picture.pixels[i]);
        benchmark::DoNotOptimize(indices.data());
    }
}
BENCHMARK(BM_ReducePlainSearch)->Apply(nameArguments)->Iterations(3);

class ScratchFile {
public:
    ScratchFile()
    {
        if (!m_folder.isValid())
            throw std::runtime_error("no temporary folder");
    }
    QString path() const { return m_folder.filePath(QStringLiteral("bench.bmp")); }

private:
    QTemporaryDir m_folder;
};

// The BMP writer into a file opened for it.
void BM_BmpWrite(benchmark::State &state)
{
    const Raster &picture = pictureFor(state);
    const ScratchFile scratch;
    for (auto _ : state) {
        QFile file(scratch.path());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            state.SkipWithError("cannot open the scratch file");
            break;
        }
        writeBmp(picture, file);
    }
}
BENCHMARK(BM_BmpWrite)->Apply(nameArguments);

// The same, through the safe replace: temporary file, rename, old file kept
// on failure.
void BM_BmpSaveFile(benchmark::State &state)
{
    const Raster &picture = pictureFor(state);
    const ScratchFile scratch;
    for (auto _ : state)
        writeBmpFile(picture, scratch.path());
}
BENCHMARK(BM_BmpSaveFile)->Apply(nameArguments);

// The floor: the finished file's bytes in one fwrite.
void BM_BmpFwriteFloor(benchmark::State &state)
{
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    writeBmp(pictureFor(state), encoded);
    const QByteArray bytes = encoded.data();
    const ScratchFile scratch;
    const QByteArray path = QFile::encodeName(scratch.path());
    for (auto _ : state) {
        std::FILE *file = std::fopen(path.constData(), "wb");
        if (!file) {
            state.SkipWithError("cannot open the scratch file");
            break;
        }
        benchmark::DoNotOptimize(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file));
        std::fclose(file);
    }
}
BENCHMARK(BM_BmpFwriteFloor)->Apply(nameArguments);

} // namespace

std::vector<BenchRatio> benchRatios()
{
    return {
        {"PNG export / compress2 floor, default strip 840x173",
         {"BM_PngExport/page:0/real_time"},
         {"BM_Compress2Floor/page:0/real_time"},
         "<= 1.15"},
        {"PNG export / compress2 floor, page 4096x1024",
         {"BM_PngExport/page:1/real_time"},
         {"BM_Compress2Floor/page:1/real_time"},
         "<= 1.15"},
        {"plain search / memoised reduction, strip (speed-up)",
         {"BM_ReducePlainSearch/page:0/iterations:3/real_time"},
         {"BM_ReduceMemoised/page:0/real_time"},
         ">= 20"},
        {"plain search / memoised reduction, page (speed-up)",
         {"BM_ReducePlainSearch/page:1/iterations:3/real_time"},
         {"BM_ReduceMemoised/page:1/real_time"},
         ">= 20"},
        {"BMP writer / one fwrite, strip",
         {"BM_BmpWrite/page:0/real_time"},
         {"BM_BmpFwriteFloor/page:0/real_time"},
         "close to 1"},
        {"BMP writer / one fwrite, page",
         {"BM_BmpWrite/page:1/real_time"},
         {"BM_BmpFwriteFloor/page:1/real_time"},
         "close to 1"},
        {"BMP safe save (temp + rename) / one fwrite, page",
         {"BM_BmpSaveFile/page:1/real_time"},
         {"BM_BmpFwriteFloor/page:1/real_time"},
         "(for information)"},
    };
}
