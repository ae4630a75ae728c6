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
    // When readReply() put the body in a file instead: its descriptor, read
    // from offset 0, and its length. The reader owns it.
    int bodyFile = -1;
    std::uint64_t bodySize = 0;
    bool bodyLost = false;   // its file could not take the body (a full disk)
    bool workerLost = false; // a render process was killed or crashed on the way
};

// What the render service says once, before any reply: the fingerprint of
// what shapes a render's bytes besides its options (library versions, the
// font files), which every strong ETag must carry.
struct WireHello {
    std::string fingerprint;
};

// Write or read one whole message; false when the peer is gone or the
// stream is broken. A reader sees either a whole message or none.
bool writeRequest(int fd, const WireRequest &request);
bool readRequest(int fd, WireRequest &request);
bool writeReply(int fd, const WireReply &reply);
// A body longer than `keepInMemory` bytes goes to an unlinked temporary
// file (in $TMPDIR, else /tmp, else an anonymous memory file) rather than
// the heap, so that a process holding many answers for slow clients does
// not grow with them.
bool readReply(int fd, WireReply &reply, std::uint64_t keepInMemory = UINT64_MAX);
bool writeHello(int fd, const WireHello &hello);
bool readHello(int fd, WireHello &hello);
