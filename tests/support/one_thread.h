#pragma once

// Qt Test watches every test function from a thread of its own, and a pool
// of children refuses to fork from a process with more than one thread.
// Work that forks (a batch, a pool) runs here in a child of the test:
// fork() copies the calling thread alone, and the watchdog, asleep on its
// own condition variable, holds no lock the child needs.

#include "jobs/posix_io.h"

#include <QByteArray>

#include <optional>

#include <sys/wait.h>
#include <unistd.h>

// What `work` (returning a QByteArray) returns when run in a forked child;
// empty when the child could not be started or did not end normally.
template <typename Work> std::optional<QByteArray> inOneThread(Work work)
{
    int ends[2];
    if (pipe(ends) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        ::close(ends[0]);
        const QByteArray reply = work();
        _exit(writeAll(ends[1], reply.constData(), std::size_t(reply.size())) ? 0 : 1);
    }
    ::close(ends[1]);
    QByteArray reply;
    char block[64 * 1024];
    for (ssize_t got; (got = readSome(ends[0], block, sizeof block)) > 0;)
        reply.append(block, got);
    ::close(ends[0]);
    if (child < 0)
        return std::nullopt;
    const int status = reapChild(child);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return reply;
}
