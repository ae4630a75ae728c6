#include "server/wire.h"

#include "jobs/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A message larger than this is a broken stream, not a file to allocate for.
constexpr std::uint32_t kMaxPart = 512u * 1024u * 1024u;

void putNumber(std::string &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

std::uint64_t takeNumber(const char *data, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(data[i])) << (8 * i);
    return value;
}

bool readPart(int fd, std::uint64_t size, std::string &part)
{
    if (size > kMaxPart)
        return false;
    part.resize(std::size_t(size));
    return readAll(fd, part.data(), part.size());
}

// A file that disappears with its last descriptor, or -1.
int temporaryFile()
{
    const char *directory = std::getenv("TMPDIR");
    for (const char *candidate : {directory, "/tmp"}) {
        if (!candidate || !*candidate)
            continue;
        const int fd = ::open(candidate, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
    }
    // A read-only file system without a writable /tmp: memory after all,
    // but outside the heap, handed back whole when the answer is sent.
    return memfd_create("quillow-body", MFD_CLOEXEC);
}

constexpr int kNoFile = -1;       // no temporary file could be made; nothing read
constexpr int kStreamBroken = -2; // the stream ended or failed part way
constexpr int kFileFailed = -3;   // the file could not take it; the part was read and dropped

// Copies `size` bytes from `fd` into a temporary file through a small
// buffer and returns the file, or one of the codes above. Should the file
// fail (a full disk), the rest is still read, so that the stream stays at a
// message's start.
int readPartToFile(int fd, std::uint64_t size)
{
    int file = temporaryFile();
    if (file < 0)
        return kNoFile;
    char block[64 * 1024];
    while (size > 0) {
        const std::size_t step = std::size_t(std::min<std::uint64_t>(size, sizeof block));
        if (!readAll(fd, block, step)) {
            if (file >= 0)
                ::close(file);
            return kStreamBroken;
        }
        if (file >= 0 && !writeAll(file, block, step)) {
            ::close(file);
            file = kFileFailed;
        }
        size -= step;
    }
    return file;
}

constexpr char kHelloMagic[4] = {'Q', 'H', 'L', '1'};

} // namespace

bool writeRequest(int fd, const WireRequest &request)
{
    std::string message;
    putNumber(message, request.id, 8);
    putNumber(message, request.query ? 1 : 0, 1);
    putNumber(message, request.ifNoneMatch.size(), 4);
    putNumber(message, request.payload.size(), 4);
    message += request.ifNoneMatch;
    message += request.payload;
    return writeAll(fd, message.data(), message.size());
}

bool readRequest(int fd, WireRequest &request)
{
    char head[17];
    if (!readAll(fd, head, sizeof head))
        return false;
    request.id = takeNumber(head, 8);
    request.query = head[8] != 0;
    return readPart(fd, takeNumber(head + 9, 4), request.ifNoneMatch) &&
           readPart(fd, takeNumber(head + 13, 4), request.payload);
}

bool writeReply(int fd, const WireReply &reply)
{
    std::string headers;
    for (const auto &[name, value] : reply.headers)
        headers += name + '\n' + value + '\n';
    std::string message;
    putNumber(message, reply.id, 8);
    putNumber(message, std::uint64_t(reply.status), 2);
    putNumber(message, reply.workerLost ? 1 : 0, 1);
    putNumber(message, headers.size(), 4);
    putNumber(message, reply.body.size(), 4);
    message += headers;
    return writeAll(fd, message.data(), message.size()) && writeAll(fd, reply.body.data(), reply.body.size());
}

bool readReply(int fd, WireReply &reply, std::uint64_t keepInMemory)
{
    char head[19];
    if (!readAll(fd, head, sizeof head))
        return false;
    reply.id = takeNumber(head, 8);
    reply.status = int(takeNumber(head + 8, 2));
    reply.workerLost = head[10] != 0;
    std::string headers;
    if (!readPart(fd, takeNumber(head + 11, 4), headers))
        return false;
    const std::uint64_t bodySize = takeNumber(head + 15, 4);
    reply.bodyFile = -1;
    reply.bodySize = bodySize;
    reply.body.clear();
    reply.bodyLost = false;
    int file = kNoFile;
    if (bodySize > keepInMemory && bodySize <= kMaxPart)
        file = readPartToFile(fd, bodySize);
    if (file == kStreamBroken)
        return false;
    if (file >= 0)
        reply.bodyFile = file;
    else if (file == kFileFailed)
        reply.bodyLost = true;
    else if (!readPart(fd, bodySize, reply.body))
        return false;
    reply.headers.clear();
    std::size_t at = 0;
    while (at < headers.size()) {
        const std::size_t nameEnd = headers.find('\n', at);
        const std::size_t valueEnd = headers.find('\n', nameEnd + 1);
        if (nameEnd == std::string::npos || valueEnd == std::string::npos) {
            if (reply.bodyFile >= 0)
                ::close(reply.bodyFile);
            reply.bodyFile = -1;
            return false;
        }
        reply.headers.emplace_back(headers.substr(at, nameEnd - at),
                                   headers.substr(nameEnd + 1, valueEnd - nameEnd - 1));
        at = valueEnd + 1;
    }
    return true;
}

bool writeHello(int fd, const WireHello &hello)
{
    std::string message(kHelloMagic, sizeof kHelloMagic);
    putNumber(message, hello.fingerprint.size(), 4);
    message += hello.fingerprint;
    return writeAll(fd, message.data(), message.size());
}

bool readHello(int fd, WireHello &hello)
{
    char head[8];
    if (!readAll(fd, head, sizeof head) || std::memcmp(head, kHelloMagic, sizeof kHelloMagic) != 0)
        return false;
    const std::uint64_t size = takeNumber(head + 4, 4);
    // A fingerprint is a hash's few dozen characters.
    return size <= 4096 && readPart(fd, size, hello.fingerprint);
}
