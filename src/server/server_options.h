#pragma once

// quillow-serve's command line. Plain C++: the HTTP side never touches Qt.

#include <chrono>
#include <optional>
#include <string>

struct ListenAddress {
    std::string address = "127.0.0.1";
    int port = 8080;
};

struct ServerOptions {
    ListenAddress listen;
    std::optional<ListenAddress> metricsListen; // metrics on an address of their own
    int workers = 0;                            // 0: one per core (parseServerOptions() resolves it)
    int queue = -1;                             // requests waiting for a worker; -1: twice the workers
    std::string tokenFile;                      // empty: no token asked for
    std::string token;                          // the file's first line, read at start and on SIGHUP
    bool publicListen = false;
    // Longest render. parseServerOptions() sets the batch's own limit for a
    // line unless --time-limit names one, so that whatever quillow-render
    // makes from the same options is made here too.
    std::chrono::milliseconds timeLimit{0};
    std::chrono::milliseconds drainDelay{5'000};
    std::chrono::milliseconds drainDeadline{20'000};
    bool web = true; // --no-web: no page at /
};

enum class ParseOutcome { Run, Help, Error };

// Reads the program's arguments. Help: `message` is the help text; Error:
// `message` says what is wrong (reading the token file, and listening on an
// address other machines reach without a token or --public, included).
ParseOutcome parseServerOptions(int argc, char *argv[], ServerOptions &options, std::string &message);

// The token in a token file: its first line, without the white space around
// it. Throws std::runtime_error with the user's message when the file cannot
// be read or that line is empty.
std::string readTokenFile(const std::string &path);

// Whether `address` (IPv4, dotted) is reachable from this machine only.
bool isLoopbackAddress(const std::string &address);
