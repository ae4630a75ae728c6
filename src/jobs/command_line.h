#pragma once

#include "jobs/option_table.h"

#include <QString>
#include <QStringList>

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
