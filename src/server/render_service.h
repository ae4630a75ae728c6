#pragma once

#include <chrono>

// Serves render requests read from `socket` (see wire.h) until the other
// end closes it: each request is checked here, rendered by a child process
// of its own (at most `workers` at once, the rest waiting in order) and
// answered with the file's bytes or the error. A child that passes
// `timeLimit` is killed (504); one that dies is reported (500), and the
// service goes on. Runs in a process that has started no thread and has a
// QGuiApplication. Returns when the socket is closed, every child reaped.
void runRenderService(int socket, int workers, std::chrono::milliseconds timeLimit);
