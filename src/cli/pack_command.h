#pragma once

#include <QStringList>

#include <atomic>

class QIODevice;

// Whether `arguments` ask for a sticker pack (--pack APP).
bool isPackCommand(const QStringList &arguments);

// quillow-render --pack APP [options] -o NAME.zip PHRASES|-: makes every
// sticker of the phrase list (read from the file, or `input` for "-") in
// child processes, checks the pack against the app's rules and writes the
// archive, or nothing. Messages go to `errors`; returns the exit status as
// runRenderCommand() does.
int runPackCommand(const QStringList &arguments, QIODevice &input, QIODevice &errors,
                   const std::atomic<int> &stop, int wake);
