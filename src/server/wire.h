#pragma once

// The messages between the HTTP process and the render service it forked,
// over a stream socket. Plain C++ on purpose: the HTTP threads never touch Qt.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One request to render. `query` says how `payload` is to be read: a JSON
// object with the batch line's keys, or the query's name and value pairs,
// each followed by a NUL byte.
struct WireRequest {
    std::uint64_t id = 0;
    bool query = false;
    std::string ifNoneMatch; // the request's If-None-Match, as sent
    std::string payload;
};

// The whole answer to one request.
struct WireReply {
    std::uint64_t id = 0;
    int status = 500;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool workerLost = false; // a render process was killed or crashed on the way
};

// Write or read one whole message; false when the peer is gone or the
// stream is broken. A reader sees either a whole message or none.
bool writeRequest(int fd, const WireRequest &request);
bool readRequest(int fd, WireRequest &request);
bool writeReply(int fd, const WireReply &reply);
bool readReply(int fd, WireReply &reply);
