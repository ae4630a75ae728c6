#pragma once

#include "jobs/job_options.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>

class QIODevice;

// One non-blank line of a batch, numbered from 1 as an editor shows it.
struct BatchLine {
    int number = 0;
    QByteArray text;
    bool tooLong = false; // longer than kMaxBatchLineBytes; `text` is then empty
};

// A line longer than this is that line's error; the reader never holds more.
constexpr qsizetype kMaxBatchLineBytes = 1024 * 1024;

// What became of one line.
struct BatchResult {
    int line = 0;
    QString output;                      // the line's "output", when it could be read
    QString error;                       // empty when the file was written
    std::optional<StickerFacts> sticker; // what a sticker line made
    QStringList warnings;                // the file was written, but the user should know
    bool badInput = false;               // the options were refused: nothing was written
    bool tooLarge = false;               // more than the job's cap or the memory allowed: nothing was written
    QString key;                         // for bad input, the option it is about (UsageError::key())
    QByteArray bytes;                    // the file's bytes, when they were asked for instead of the file

    bool ok() const { return error.isEmpty(); }
};

// Where a line's file goes: to its "output", or back to the caller in the
// result's `bytes`, the line's "output" then choosing the format by its
// suffix alone.
enum class LineOutput { File, Bytes };

// Renders one line's strip or sticker in the calling process. Never throws: a failure,
// out of memory included, is the result's error.
BatchResult runBatchLine(const BatchLine &line, const JobDraft &defaults,
                         LineOutput output = LineOutput::File);

// The work of a child of a ChildPool that renders `line` as runBatchLine()
// does: writes its reply to `reply`, for batchChildResult() to read. The
// temporary files it makes are named in the reply before anything is written
// to them, so that the parent can remove them should the child die. Call it
// only in such a child: it sets the process's temporary-file listener.
void renderLineInChild(const BatchLine &line, const JobDraft &defaults, LineOutput output, int reply);

// The result a child's reply and exit status tell; a child that ended
// without a word (killed, crashed) fails the line, and the temporary files
// it named are removed. `overTimeLimit`: the caller killed it for taking too
// long, and the line says so.
BatchResult batchChildResult(const BatchLine &line, const QByteArray &replied, int status,
                             bool overTimeLimit = false);

// A warning of line `line` as standard error shows it, newline included:
// "quillow-render: 第 5 行：…".
QByteArray warningLine(int line, const QString &warning);

// The result as one line of JSON, newline included:
// {"line":5,"output":"a.png","ok":true} or with "ok":false and "error". A
// sticker line adds "bytes", "frames" and "quality" after "ok":true, with
// a cap "cap" and "colours", and "fitted" when something was given up to
// meet it; a line of tiles "tiles" (the files), "tileFrames" (each file's
// frames), "paste" and "dpi". The warnings are not part of it.
QByteArray resultLine(const BatchResult &result);

// How long a line may take before the batch gives up on it, in seconds. A
// heavy sticker line (ten characters, every effect, a tight cap) takes
// well under a minute on one busy core; a line far past that has stopped
// answering, and would hold back every result after it.
constexpr int kDefaultLineTimeLimitSeconds = 300;

// The time limit of a line: QUILLOW_LINE_TIMEOUT when it is a whole number
// of seconds from 1 up, otherwise kDefaultLineTimeLimitSeconds.
int lineTimeLimitSeconds();

// How a batch ended.
struct BatchOutcome {
    int lines = 0;      // lines that got a result
    int failed = 0;     // of which failed
    QString readError;  // the input could not be read to its end
    QString writeError; // a result could not be written; reading stopped
    int signal = 0;     // SIGINT or SIGTERM stopped the reading
};

// Runs the lines of `input` as they arrive, each in a child process of its
// own, so that nothing one line leaves in the font engines or glyph caches
// can reach another: a file depends only on its own line. At most
// `workers` lines render at once and at most 2 x `workers` wait for their
// result to be written, so memory does not grow with the input. Lines that
// name one file run one after another, in input order, so the last of them
// wins and each result is true of the file its line wrote. A line whose
// child runs past lineTimeLimitSeconds() is killed and fails. Each result
// is written to `results` whole, as soon as it and all before it are done.
// Stops reading when `stop` becomes non-zero (a signal number) and lets the
// lines already started finish; lines read but not started get no result.
// `wake`, when not -1, is a descriptor that becomes readable when `stop` is
// set, so a blocked read can be left. A line's warnings go to `messages`
// (when given) as warningLine() writes them, just before its result.
BatchOutcome runBatch(QIODevice &input, const JobDraft &defaults, QIODevice &results, int workers,
                      const std::atomic<int> &stop, int wake = -1, QIODevice *messages = nullptr);
