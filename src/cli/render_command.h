#pragma once

#include <QStringList>

#include <atomic>

class QIODevice;

// Exit statuses of quillow-render.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // a file or the results could not be written, or a batch line failed
constexpr int kExitBadInput = 2; // nothing was written

// The whole command: parses `arguments` (the program's name first), renders
// one strip or runs a batch read from `input` or the named file, writes help,
// version and batch results to `output` and messages to `errors`. Returns
// the exit status: 128 + the signal's number when `stop` (set by a SIGINT
// or SIGTERM handler, which also makes `wake` readable) ended a batch early,
// or came while a single picture's file was being put in place.
// Needs a QGuiApplication.
int runRenderCommand(const QStringList &arguments, QIODevice &input, QIODevice &output, QIODevice &errors,
                     const std::atomic<int> &stop = std::atomic<int>(0), int wake = -1);

// For the process's SIGINT and SIGTERM handler, after it has set `stop`:
// while runRenderCommand() makes a single picture, abandons it (no file is
// replaced; see abandonFileWriting()), says so on standard error and ends
// the process at once with 128 + `signal`. Returns, doing nothing, in a
// batch, before or after the picture, and once its complete file is taking
// or has taken its name (the run then reports it written). Async-signal-safe.
void stopSingleRun(int signal) noexcept;
