#pragma once

#include "jobs/option_table.h"

#include <QByteArray>

// One line of a batch: a JSON object with "phrase", "output" and any option
// by its long name ("bold": true, "spacing": 12, "start": "#FF0000"),
// starting from `defaults`. Throws UsageError for a line that is not such an
// object or whose job is incomplete.
// `lineNumber` is the line's number in the batch, for messages. A line
// without "phrase" or with bytes that are not UTF-8 is refused too.
RenderJob jobFromJsonLine(const QByteArray &line, const JobDraft &defaults, int lineNumber = 0);

// The offset of the first byte of `text` that is not UTF-8, or -1.
qsizetype invalidUtf8Offset(const QByteArray &text);
