#pragma once

#include "composition/quillow_error.h"
#include "export/output_format.h"
#include "jobs/render_job.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A job as far as the options given so far describe it. The command line
// fills one; in a batch it is the default every line starts from.
struct JobDraft {
    RenderJob job;
    const OutputFileFormat *format = nullptr; // --format; null: the output's suffix decides
    bool rowsGiven = false;                   // --rows, which only a sticker takes
};

// Sets the option `name` (its long name without dashes, e.g. "spacing") from
// its text. Throws UsageError naming the option for a value it does not
// take, or for a name that is not an option with a value.
void applyOption(JobDraft &draft, const QString &name, const QString &value);

// Sets or clears a style flag: "bold", "italic", "underline", "strike-out".
// Throws UsageError for any other name.
void applyFlag(JobDraft &draft, const QString &name, bool on);

bool isFlagOption(const QString &name);

// The finished job: checks that there is a phrase of 1 to 10 UTF-16 code
// units after trimming, an output path, and a format (given, or chosen by
// the output's suffix). Throws UsageError otherwise.
RenderJob finishJob(const JobDraft &draft);

// What the command line asks for.
struct CommandLine {
    enum class Action { Render, Batch, Help, Version };
    Action action = Action::Render;
    JobDraft draft;      // for Batch: the defaults of every line
    QString batchSource; // a path, or "-" for standard input
};

// Parses the arguments, the program's name first, GNU style: options before
// or after the phrase, "--output=FILE" or "--output FILE", "--" ends the
// options. Throws UsageError for anything it cannot take; the job is checked
// as finishJob() does.
CommandLine parseCommandLine(const QStringList &arguments);

// The help shown by --help, in Chinese.
QString usageText();

// One line of a batch: a JSON object with "phrase", "output" and any option
// by its long name ("bold": true, "spacing": 12, "start": "#FF0000"),
// starting from `defaults`. Throws UsageError for a line that is not such an
// object or whose job is incomplete.
// `lineNumber` is the line's number in the batch, for messages. A line
// without "phrase" or with bytes that are not UTF-8 is refused too.
RenderJob jobFromJsonLine(const QByteArray &line, const JobDraft &defaults, int lineNumber = 0);

// The offset of the first byte of `text` that is not UTF-8, or -1.
qsizetype invalidUtf8Offset(const QByteArray &text);
