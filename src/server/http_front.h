#pragma once

// The HTTP side of quillow-serve: plain C++ and libmicrohttpd, no Qt, so
// that its threads never touch what the render service forks from.

#include <chrono>
#include <string>

#include <csignal>

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 8080;
    int workers = 0;   // 0: one per core (parseServerOptions() resolves it)
    int queue = -1;    // requests waiting for a worker; -1: twice the workers
    std::string token; // empty: no token asked for
    std::chrono::milliseconds timeLimit{10'000};
    std::chrono::milliseconds drainDeadline{20'000};
    bool web = true; // --no-web: no page at /
};

enum class ParseOutcome { Run, Help, Error };

// Reads the program's arguments. Help: `message` is the help text; Error:
// `message` says what is wrong (reading the token file included).
ParseOutcome parseServerOptions(int argc, char *argv[], ServerOptions &options, std::string &message);

// Serves HTTP until a signal of `stopping` arrives (they must be blocked in
// the calling thread), passing renders to a render service it starts; then
// drains: no new connection, what was accepted is answered within the drain
// deadline. Returns the exit status.
//
// The render service is this program started again (a process that has
// started no thread, as forking Qt workers needs) with
// kRenderServiceArgument, the socket's descriptor, the workers and the time
// limit in milliseconds. Should it die, the renders it had are answered 500
// and a new one is started.
int runHttpFront(const ServerOptions &options, const sigset_t &stopping);

inline constexpr char kRenderServiceArgument[] = "--render-service";
