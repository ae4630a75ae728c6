#pragma once

// Reading and writing descriptors whole, going on after a signal handler
// interrupts a call. Plain POSIX, no Qt: the HTTP side uses it too.

#include <cstddef>

#include <sys/types.h>

// Writes all `size` bytes of `data` to `fd`. False, errno set, when the
// descriptor takes no more (the reader is gone, the disk is full); some of
// the bytes may have been written then.
bool writeAll(int fd, const void *data, std::size_t size);

// Reads exactly `size` bytes into `data`. False when the stream ends first
// (errno 0) or a read fails (errno set).
bool readAll(int fd, void *data, std::size_t size);

// One read(2) of at most `size` bytes, repeated while a signal interrupts
// it: what read returns, 0 at the end of the stream, -1 with errno set.
ssize_t readSome(int fd, void *data, std::size_t size);

// Waits for the child `pid` to end and returns its wait status; -1, errno
// set, when there is no such child.
int reapChild(pid_t pid);
