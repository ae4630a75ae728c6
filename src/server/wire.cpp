#include "server/wire.h"

#include "jobs/posix_io.h"

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

bool readReply(int fd, WireReply &reply)
{
    char head[19];
    if (!readAll(fd, head, sizeof head))
        return false;
    reply.id = takeNumber(head, 8);
    reply.status = int(takeNumber(head + 8, 2));
    reply.workerLost = head[10] != 0;
    std::string headers;
    if (!readPart(fd, takeNumber(head + 11, 4), headers) ||
        !readPart(fd, takeNumber(head + 15, 4), reply.body))
        return false;
    reply.headers.clear();
    std::size_t at = 0;
    while (at < headers.size()) {
        const std::size_t nameEnd = headers.find('\n', at);
        const std::size_t valueEnd = headers.find('\n', nameEnd + 1);
        if (nameEnd == std::string::npos || valueEnd == std::string::npos)
            return false;
        reply.headers.emplace_back(headers.substr(at, nameEnd - at),
                                   headers.substr(nameEnd + 1, valueEnd - nameEnd - 1));
        at = valueEnd + 1;
    }
    return true;
}
