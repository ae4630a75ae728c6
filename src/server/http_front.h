#pragma once

// The HTTP side of quillow-serve: plain C++ and libmicrohttpd, no Qt, so
// that its threads never touch what the render service forks from.

#include "server/server_options.h"

#include <csignal>

// Serves HTTP, passing renders to a render service it starts, until SIGTERM
// or SIGINT (`handled` holds them and SIGHUP, blocked in the calling
// thread). SIGHUP reads the token file again. On stopping: /readyz answers
// 503 while connections are still taken for the drain delay; then no new
// connection, and what was accepted is answered within the drain deadline
// (renders still running then get 503). Returns the exit status.
//
// The render service is this program started again (a process that has
// started no thread, as forking Qt workers needs) with
// kRenderServiceArgument, the socket's descriptor, the workers and the time
// limit in milliseconds; it says hello (see WireHello) once ready. Should it
// die, the renders it had are answered 500 and a new one is started.
int runHttpFront(const ServerOptions &options, const sigset_t &handled);

inline constexpr char kRenderServiceArgument[] = "--render-service";
