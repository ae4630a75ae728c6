#include "server/connection_guard.h"

#include "server/server_metrics.h"

#include <cassert>
#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

// How often the watch looks for requests past their deadline: the
// deadlines are seconds long, so a few tenths late is close enough.
constexpr auto kWatchPeriod = std::chrono::milliseconds(200);

const std::string &timeoutAnswer()
{
    static const std::string answer = [] {
        const std::string body = "{\"error\":\"请求没有在时限内完整到达。\",\"key\":null}\n";
        return "HTTP/1.1 408 Request Timeout\r\n"
               "Content-Type: application/json; charset=utf-8\r\n"
               "Cache-Control: no-store\r\n"
               "Connection: close\r\n"
               "Content-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }();
    return answer;
}

std::string addressText(const sockaddr *peer)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (peer && peer->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(peer)->sin_addr, text, sizeof text);
    else if (peer && peer->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(peer)->sin6_addr, text, sizeof text);
    return text;
}

} // namespace

struct ConnectionGuard::Slot {
    int fd = -1;
    std::string address;
    bool overLimit = false;
    // Between the end of one answer (or the accept) and the whole next
    // request, the deadline runs; otherwise the slot waits for a render or
    // sends, which the library's idle time-out watches.
    bool receiving = true;
    Clock::time_point deadline;
    // Whether a 408 may be written when the deadline passes: while a
    // keep-alive connection merely idles, a client may be sending its next
    // request that very moment and would read the 408 as its answer.
    bool requestBegun = true;
    bool expired = false;
};

ConnectionGuard::ConnectionGuard(std::chrono::milliseconds deadline,
                                 std::chrono::milliseconds overLimitDeadline, int perAddress)
    : m_deadline(deadline), m_overLimitDeadline(overLimitDeadline), m_perAddress(perAddress)
{
    m_watch = std::thread([this] { watch(); });
}

ConnectionGuard::~ConnectionGuard()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_watch.join();
    assert(m_slots.empty());
}

ConnectionGuard::Slot *ConnectionGuard::opened(int fd, const sockaddr *peer)
{
    auto slot = std::make_unique<Slot>();
    slot->fd = fd;
    slot->address = addressText(peer);
    std::lock_guard lock(m_mutex);
    const int held = ++m_byAddress[slot->address];
    slot->overLimit = held > m_perAddress;
    slot->deadline = Clock::now() + (slot->overLimit ? m_overLimitDeadline : m_deadline);
    Slot *opened = slot.get();
    m_slots.emplace(opened, std::move(slot));
    return opened;
}

void ConnectionGuard::closed(Slot *slot)
{
    if (!slot)
        return;
    std::lock_guard lock(m_mutex);
    const auto found = m_slots.find(slot);
    if (found == m_slots.end())
        return;
    if (const auto held = m_byAddress.find(slot->address); held != m_byAddress.end() && --held->second <= 0)
        m_byAddress.erase(held);
    m_slots.erase(found);
}

bool ConnectionGuard::headRead(Slot *slot)
{
    std::lock_guard lock(m_mutex);
    slot->requestBegun = true;
    return !slot->expired;
}

bool ConnectionGuard::requestRead(Slot *slot)
{
    std::lock_guard lock(m_mutex);
    slot->receiving = false;
    return !slot->expired;
}

void ConnectionGuard::answered(Slot *slot)
{
    std::lock_guard lock(m_mutex);
    slot->receiving = true;
    slot->requestBegun = false;
    slot->deadline = Clock::now() + (slot->overLimit ? m_overLimitDeadline : m_deadline);
}

bool ConnectionGuard::overLimit(const Slot *slot)
{
    return slot->overLimit;
}

const std::string &ConnectionGuard::peer(const Slot *slot)
{
    return slot->address;
}

long long ConnectionGuard::timedOut() const
{
    std::lock_guard lock(m_mutex);
    return m_timedOut;
}

void ConnectionGuard::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, kWatchPeriod);
        const Clock::time_point now = Clock::now();
        for (const auto &[slot, owned] : m_slots) {
            if (slot->receiving && !slot->expired && slot->deadline <= now)
                expire(*slot);
        }
    }
}

// Called with the lock held, so that the descriptor is still the slot's:
// the library closes it only after closed(), which takes the lock.
void ConnectionGuard::expire(Slot &slot)
{
    slot.expired = true;
    ++m_timedOut;
    if (slot.requestBegun) {
        // The socket's buffer is empty (the library writes nothing while a
        // request arrives), so this short answer goes whole or not at all.
        ssize_t sent;
        do
            sent =
                ::send(slot.fd, timeoutAnswer().data(), timeoutAnswer().size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
    }
    // The library reads the end of the stream and closes the connection
    // itself, in its own thread.
    ::shutdown(slot.fd, SHUT_RDWR);
    if (slot.requestBegun)
        writeAccessLog({"-", "-", 408, 0, 0, 0, 0, "", slot.address});
}
