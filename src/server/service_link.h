#pragma once

// The HTTP side's end of the render service: starts it (this program again,
// see runHttpFront()), passes it requests, hands each answer to whoever
// asked, and starts a new service should one die. Plain C++, no Qt.

#include "server/server_options.h"
#include "server/wire.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class ServiceLink {
public:
    enum class Outcome {
        Replied, // `reply` holds the service's answer
        Lost,    // the service died with the request; a new one runs
        Gone,    // no service runs, and none could be started
        Dropped, // abandonAll() gave up on it
    };
    // Called once per request, from the link's reader thread (or from the
    // caller of submit() or abandonAll()), never with the link's lock held.
    using Done = std::function<void(Outcome, WireReply &&)>;

    // Bodies longer than this come as a file (see readReply()).
    static constexpr std::uint64_t kBodyInMemory = 256 * 1024;

    explicit ServiceLink(const ServerOptions &options);
    ~ServiceLink(); // stop() must have been called

    // Starts the first service and the reader; false, with `error` set,
    // when it cannot be started or does not say hello.
    bool start(std::string &error);
    // Passes `request` on (its id is set here); `done` follows.
    void submit(WireRequest request, Done done);
    // Answers every request still waiting Dropped.
    void abandonAll();
    // Closes the socket, which ends the service once its renders are
    // reaped, and waits for it and the reader.
    void stop();

    bool gone() const;
    // The running service's render fingerprint (see WireHello).
    std::string fingerprint() const;
    long long restarts() const;

private:
    struct Pending {
        bool sent = false;
        Done done;
    };
    struct Service {
        pid_t pid = -1;
        int socket = -1;
    };
    Service spawn(std::string &fingerprint);
    void readReplies();
    void writeRequests();
    bool restart();
    void finish(std::map<std::uint64_t, Pending>::iterator pending, Outcome outcome, WireReply &&reply,
                std::unique_lock<std::mutex> &lock);

    const ServerOptions &m_options;
    std::string m_program;
    std::thread m_reader;
    // Requests go out from a thread of their own: the HTTP threads that
    // submit them must never wait on the socket, nor on a service being
    // started again.
    std::thread m_writer;
    std::condition_variable m_outboxReady;
    std::deque<WireRequest> m_outbox; // under m_mutex

    std::mutex m_writing; // one request on the socket at a time
    mutable std::mutex m_mutex;
    Service m_service; // changed under both locks
    std::chrono::steady_clock::time_point m_serviceStarted;
    std::string m_fingerprint;
    std::map<std::uint64_t, Pending> m_pending;
    std::uint64_t m_nextId = 1;
    bool m_gone = false;
    bool m_stopping = false;
    long long m_restarts = 0;
};
