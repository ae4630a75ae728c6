#pragma once

#include "jobs/render_job.h"

#include <QString>

#include <span>

// A job as far as the options given so far describe it. The command line
// fills one; in a batch it is the default every line starts from.
struct JobDraft {
    RenderJob job;
    const OutputFileFormat *format = nullptr; // --format; null: the output's suffix decides
    bool rowsGiven = false;                   // --rows, which only a sticker takes
    // The output's name says nothing of the format (the service's answers
    // have no file name): the options choose it, a sticker's by its preset.
    bool formatByOptions = false;
};

using ValueSetter = void (*)(JobDraft &draft, const QString &option, const QString &value);
using FlagSetter = void (*)(JobDraft &draft, bool on);

// One option: its long name (also its batch field), the short name if any,
// the value's placeholder (none for a flag), the help line, and what it
// sets. Parsing, the help and batch lines all read the one table of them.
struct OptionRow {
    const char *name;
    const char *shortName;
    const char *valueName; // nullptr: a flag
    const char *help;
    ValueSetter setValue; // for an option with a value
    FlagSetter setFlag;   // for a flag
};

// Every option, in the order the help lists them.
std::span<const OptionRow> optionRows();

// What the help shows for `row`'s value: its placeholder, or the names of
// the table its values come from; empty for a flag.
QString optionValueName(const OptionRow &row);

// Sets the option `name` (its long name without dashes, e.g. "spacing") from
// its text. Throws UsageError naming the option for a value it does not
// take, or for a name that is not an option with a value.
void applyOption(JobDraft &draft, const QString &name, const QString &value);

// Sets or clears a style flag: "bold", "italic", "underline", "strike-out".
// Throws UsageError for any other name.
void applyFlag(JobDraft &draft, const QString &name, bool on);

bool isFlagOption(const QString &name);
bool isValueOption(const QString &name);

// Throws UsageError saying that `name` (as the user wrote it) is no option.
[[noreturn]] void rejectUnknownOption(const QString &name);

// `value` in the quotation marks every message puts round the user's text.
QString quotedText(const QString &value);
