#include "jobs/posix_io.h"

#include <cerrno>

#include <sys/wait.h>
#include <unistd.h>

bool writeAll(int fd, const void *data, std::size_t size)
{
    const auto *at = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, at, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        size -= std::size_t(written);
    }
    return true;
}

bool readAll(int fd, void *data, std::size_t size)
{
    auto *at = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = readSome(fd, at, size);
        if (got <= 0) {
            if (got == 0)
                errno = 0;
            return false;
        }
        at += got;
        size -= std::size_t(got);
    }
    return true;
}

ssize_t readSome(int fd, void *data, std::size_t size)
{
    ssize_t got;
    do
        got = ::read(fd, data, size);
    while (got < 0 && errno == EINTR);
    return got;
}

int reapChild(pid_t pid)
{
    int status = 0;
    pid_t reaped;
    do
        reaped = waitpid(pid, &status, 0);
    while (reaped < 0 && errno == EINTR);
    return reaped < 0 ? -1 : status;
}
