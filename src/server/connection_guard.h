#pragma once

// Keeps any one client from holding the HTTP side's connections: a deadline
// for each request's head and body, and a number of connections per client
// address past which a connection may only ask the probes. Plain C++.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

struct sockaddr;

class ConnectionGuard {
public:
    struct Slot;

    // `deadline`: how long a request may take to arrive, head and body;
    // `perAddress`: connections one address holds before the next is only
    // given `overLimitDeadline` and the probes.
    ConnectionGuard(std::chrono::milliseconds deadline, std::chrono::milliseconds overLimitDeadline,
                    int perAddress);
    ~ConnectionGuard(); // stops the watch; every slot must have been closed

    ConnectionGuard(const ConnectionGuard &) = delete;
    ConnectionGuard &operator=(const ConnectionGuard &) = delete;

    // A connection was accepted on `fd` (which stays open until closed() is
    // called for it) from `peer`. The slot lives until closed().
    Slot *opened(int fd, const sockaddr *peer);
    void closed(Slot *slot);

    // The request's head has arrived. False when its deadline has already
    // passed (the connection is being closed): the request must not be
    // answered.
    bool headRead(Slot *slot);
    // The request has arrived whole: no deadline until it is answered. Same
    // false as headRead().
    bool requestRead(Slot *slot);
    // Its answer has been sent; the next request's deadline starts now.
    void answered(Slot *slot);

    // Whether the slot's address had used its connections when it came.
    static bool overLimit(const Slot *slot);
    // The peer's address, as text ("127.0.0.1").
    static const std::string &peer(const Slot *slot);

    // Connections closed for their deadline so far.
    long long timedOut() const;

private:
    void watch();
    void expire(Slot &slot);

    const std::chrono::milliseconds m_deadline;
    const std::chrono::milliseconds m_overLimitDeadline;
    const int m_perAddress;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::unordered_map<Slot *, std::unique_ptr<Slot>> m_slots;
    std::map<std::string, int> m_byAddress;
    long long m_timedOut = 0;
    std::thread m_watch;
};
