#pragma once

#include "cli/job_options.h"

#include <QByteArray>
#include <QString>

#include <vector>

class QIODevice;
class QThreadPool;

// One non-blank line of a batch file, numbered from 1 as an editor shows it.
struct BatchLine {
    int number = 0;
    QByteArray text;
};

// What became of one line.
struct BatchResult {
    int line = 0;
    QString output; // the line's "output", when it could be read
    QString error;  // empty when the file was written

    bool ok() const { return error.isEmpty(); }
};

// The lines of `input`, blank ones left out but counted.
std::vector<BatchLine> readBatchLines(QIODevice &input);

// Renders one line's strip. Never throws: a failure is the result's error.
BatchResult runBatchLine(const BatchLine &line, const JobDraft &defaults);

// The result as one line of JSON, newline included:
// {"line":5,"output":"a.png","ok":true} or with "ok":false and "error".
QByteArray resultLine(const BatchResult &result);

// Runs every line on `pool`'s threads (the lines are independent) and writes
// one result line per input line to `results` in input order, each as soon
// as it and all before it are done. Returns the number of lines that failed.
int runBatch(const std::vector<BatchLine> &lines, const JobDraft &defaults, QIODevice &results,
             QThreadPool &pool);
