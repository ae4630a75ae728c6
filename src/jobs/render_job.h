#pragma once

#include "composition/font_request.h"
#include "composition/quillow_error.h"
#include "composition/strip_settings.h"
#include "export/output_format.h"
#include "sticker/sticker.h"
#include "sticker/sticker_tiles.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// Input the command cannot work with: an unknown option, a value out of
// range, a missing phrase or output, options that do not go together, a cap
// that cannot be met. Nothing has been written when it is thrown. The
// message is the user's, in Chinese; `key` is the option or batch field it
// is about, by its long name ("spacing", "phrase"), so that a program
// talking to the service can point at it. Empty only where no one field is
// to blame (a line that is not JSON at all).
class UsageError : public QuillowError {
public:
    UsageError(const QString &key, const QString &message) : QuillowError(message), m_key(key) {}

    const QString &key() const { return m_key; }

private:
    QString m_key;
};

// The most one job may make, for a caller that renders for others and must
// not let one request take the machine. Checked from the laid-out strip
// before anything is drawn.
struct RenderCap {
    // Pixels drawn, summed over the frames: what drawing, colour reduction
    // and encoding take memory and time for.
    qint64 pixelFrames = 0;
    // The file of a format that keeps every pixel as it is (BMP), in bytes.
    qint64 uncompressedBytes = 0;
};

// A job that would make more than its RenderCap allows. Nothing has been
// drawn or written; the message names the cap.
class TooLargeError : public UsageError {
public:
    using UsageError::UsageError;
};
// Runs `make`, turning the core's refusals into the caller's, about `key`:
// nothing is written yet, so the options, or a cap that no file meets, are
// the user's to change.
template <typename Make> auto asUsageError(const QString &key, Make make)
{
    try {
        return make();
    } catch (const UsageError &) {
        throw;
    } catch (const QuillowError &error) {
        throw UsageError(key, error.message());
    }
}

// One strip to render and the file to write it to.
struct RenderJob {
    StripSettings settings; // `text` is the phrase
    QString output;
    // A row of outputFileFormats(): "png" is the window's PNG, indexed to the
    // halftone palette with white transparent; "png-alpha" the clipboard's
    // RGBA picture; the animated ones are made by makeSticker().
    const OutputFileFormat *format = outputFormatNamed(u"png");
    std::optional<std::uint32_t> seed; // random colours and the shake; empty: seeded from the clock
    double dpi = kDesignDpi;
    // Device pixels per logical pixel, as a window on a scaled screen saves:
    // the picture is `scale` times as wide and high, drawn at that ratio.
    double scale = 1.0;
    // The effect, the look, the preset and the cap. Its `format` and `seed`
    // are filled in from the fields above when the sticker is made.
    StickerOptions sticker;
    // Set: the sticker is cut into emoji tiles written beside `output`
    // (see tileFilePath()) instead of `output` itself.
    std::optional<TileGrid> tiles;
    // Unset: as large as the options ask (the command line's default).
    std::optional<RenderCap> cap;
    QString tileName; // the tiles' base name (--tile-name); empty: from the output's name

    RenderJob() { settings.faceName = kDefaultFace; }
};

// Whether `sticker` asks for what only a sticker has: an outline or its
// edge, a shadow, a preset or a cap.
bool stickerLookOrRulesGiven(const StickerOptions &sticker);

// Whether `job` is made by makeSticker() rather than by the window's own
// writers: an animated format, or png-alpha with an outline, a shadow, a
// preset, a cap, rows or tiles. The window's PNG and BMP, and a plain
// png-alpha, keep the writers they have always had, so their bytes stay
// what they were.
bool needsStickerMaker(const RenderJob &job);

// What a sticker job made, for a batch line's result.
struct StickerFacts {
    qint64 bytes = 0;
    int frames = 1;
    int quality = 100;
    int colours = 0;
    std::optional<qint64> cap;
    QString fitted; // what was given up to meet the cap (Sticker::fitted); empty: nothing
    // Tiles: the files written in reading order and the text that pastes
    // them side by side; the numbers above are the largest tile's.
    QStringList tileFiles;
    QList<int> tileFrames; // the frames of each file of tileFiles
    QString pasteText;
    double tileDpi = 0; // the dpi the banner was drawn at
};

// How a job went.
struct JobReport {
    QString error;         // the user's message; empty when the file was written
    bool badInput = false; // the options did not go together, or a cap could not be met: nothing written
    // The job asks for more than its RenderCap, or ran out of memory: more
    // than this process may make. Nothing written.
    bool tooLarge = false;
    QString key;                         // for bad input, the option it is about (UsageError::key())
    std::optional<StickerFacts> sticker; // for a sticker job that was written
    QStringList warnings; // written anyway, but the user should know (a first character too small)

    bool ok() const { return error.isEmpty(); }
};

// Lays the strip out, colours it, renders it and writes `job.output`, as the
// window's preview and save commands do for the same settings; a sticker
// job goes through makeSticker() with the job's seed for the colours and the
// shake, and black ink. Uses its own measurer and colour source, so jobs may
// run on several threads at once. Throws QuillowError with the user's
// message (UsageError when makeSticker() refuses the options or the cap);
// on failure no file is left half-written and an existing file is
// untouched. Fills `report` (when given) with what a
// sticker job made and its warnings.
void runRenderJob(const RenderJob &job, JobReport *report = nullptr);

// What runRenderJob() would write to `job.output`, byte for byte, returned
// instead of written; `job.output` is not touched. Throws as runRenderJob().
QByteArray encodeRenderJob(const RenderJob &job, JobReport *report = nullptr);

// Throws TooLargeError when `layout`, the job's strip laid out at its dpi
// and not yet drawn, would make more than `job.cap` allows.
void checkRenderCap(const RenderJob &job, const StripLayout &layout);

// Runs the job as runRenderJob() does and reports how it went; with `bytes`,
// as encodeRenderJob() does, leaving the file's bytes there (empty on
// failure). Never throws: single runs and batch lines report their failures
// through this one path.
JobReport renderJob(const RenderJob &job, QByteArray *bytes = nullptr) noexcept;
