#include "server/http_front.h"

#include "server/connection_guard.h"
#include "server/render_admission.h"
#include "server/request_values.h"
#include "server/server_metrics.h"
#include "server/service_link.h"
#include "server/web_catalogue.h"
#include "server/web_page.h"
#include "server/wire.h"

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Larger bodies are refused before they are read: a batch line's options
// fit in a few hundred bytes.
constexpr std::size_t kMaxBody = 64 * 1024;

// A render's query and a client's headers fit in a few hundred bytes; past
// these the request is refused (414, 431) with the usual JSON body.
constexpr std::size_t kMaxTarget = 8 * 1024;
constexpr std::size_t kMaxHeaders = 16 * 1024;

// What libmicrohttpd may hold of one request's head. Past it the library
// answers 414 or 431 itself, with a fixed HTML body we cannot change, so it
// is set well above the limits above: a request over them by any margin a
// client would plausibly send still gets our JSON. The pool is touched only
// as far as a request fills it.
constexpr std::size_t kConnectionMemory = 256 * 1024;

// How long a request may take to arrive whole, head and body. A client on
// a slow mobile link sends a few hundred bytes well within it; one that
// trickles a byte at a time to hold a connection open does not.
constexpr auto kRequestDeadline = std::chrono::seconds(10);
// Longest wait for a client to take any of an answer, and longest idle
// keep-alive: a reader that takes nothing for this long is dropped.
constexpr unsigned kIdleSeconds = 10;
// Connections one address may hold. Past it a connection gets only the
// probes, quickly: a client that opens thousands of connections holds a
// small part of the slots, never all of them, and a probe from the same
// address (a node's kubelet behind the same NAT) is still answered. A
// reverse proxy in front arrives from one address too; its pool of
// keep-alive connections (nginx keeps 32 per worker process) fits well
// under this.
constexpr int kConnectionsPerAddress = 256;
constexpr auto kOverLimitDeadline = std::chrono::seconds(2);
// The most connections at once, whatever the descriptor limit allows: each
// costs a descriptor or two (its socket, an answer's body file) and a few
// KiB of memory.
constexpr rlim_t kMostConnections = 16384;
// Threads polling the connections. The answers are computed elsewhere (the
// render service); these only read requests and send bytes.
constexpr unsigned kPollingThreads = 2;
// After the drain deadline, how long the 503s for renders given up on may
// take to be sent before the connections are closed.
constexpr auto kAbandonedFlush = std::chrono::seconds(2);

struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    int bodyFile = -1; // owned; the body when set
    std::uint64_t bodySize = 0;
    double queueMs = 0;
    double renderMs = 0;
};

Reply jsonError(int status, const std::string &message, const std::string &key = std::string())
{
    return {status,
            {{"Content-Type", "application/json; charset=utf-8"}, {"Cache-Control", "no-store"}},
            "{\"error\":\"" + jsonEscaped(message) +
                "\",\"key\":" + (key.empty() ? std::string("null") : "\"" + jsonEscaped(key) + "\"") + "}\n"};
}

Reply withHeader(Reply reply, const char *name, const std::string &value)
{
    reply.headers.emplace_back(name, value);
    return reply;
}

std::string headerOf(const Reply &reply, const char *name)
{
    for (const auto &[key, value] : reply.headers) {
        if (strcasecmp(key.c_str(), name) == 0)
            return value;
    }
    return {};
}

// Raises the descriptor limit as far as allowed and returns the number of
// connections it leaves room for: each may hold its socket and the file of
// a large answer, besides the program's own descriptors and the files of
// the `admitted` renders whose answers are arriving.
unsigned connectionLimit(int admitted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t reserved = 64 + rlim_t(admitted);
    const rlim_t room = limit.rlim_cur > reserved + 128 ? (limit.rlim_cur - reserved) / 2 : 64;
    return unsigned(std::min(room, kMostConnections));
}

// One request, from its head to the end of its answer.
struct Exchange {
    ConnectionGuard::Slot *slot = nullptr;
    Clock::time_point started;
    std::string method;
    std::string path;
    std::string requestId;
    std::string body;
    bool tooLarge = false;
    std::string preset; // for the metrics, once the render has been accepted
    // The render's answer, set by the thread that resumes the connection.
    std::optional<Reply> rendered;
    // What was answered, for the access log.
    int status = 0;
    std::uint64_t bytes = 0;
    double queueMs = 0;
    double renderMs = 0;
};

class Front {
public:
    explicit Front(const ServerOptions &options)
        : m_options(options), m_token(options.token), m_workers(options.workers),
          m_capacity(m_workers + (options.queue >= 0 ? options.queue : 2 * m_workers)),
          m_admission(m_capacity), m_link(options),
          m_guard(kRequestDeadline, kOverLimitDeadline, kConnectionsPerAddress),
          m_web(stickerCatalogueJson(), options.web)
    {
        std::random_device random;
        m_idPrefix = std::to_string(random()) + std::to_string(random());
    }

    int run(const sigset_t &handled)
    {
        std::string error;
        if (!m_link.start(error)) {
            std::fprintf(stderr, "quillow-serve: %s\n", error.c_str());
            m_link.stop();
            return 1;
        }
        const unsigned connections = connectionLimit(m_capacity);
        m_daemon = startDaemon(m_options.listen, false, connections);
        if (!m_daemon) {
            std::fprintf(stderr, "quillow-serve: 无法监听 %s:%d：%s。\n", m_options.listen.address.c_str(),
                         m_options.listen.port, strerror(errno));
            m_link.stop();
            return 1;
        }
        std::fprintf(stderr, "quillow-serve: 正在监听 http://%s:%u/\n", m_options.listen.address.c_str(),
                     boundPort(m_daemon));
        if (m_options.metricsListen) {
            m_metricsDaemon = startDaemon(*m_options.metricsListen, true, 64);
            if (!m_metricsDaemon) {
                std::fprintf(stderr, "quillow-serve: 无法监听 %s:%d：%s。\n",
                             m_options.metricsListen->address.c_str(), m_options.metricsListen->port,
                             strerror(errno));
                MHD_stop_daemon(m_daemon);
                m_link.stop();
                return 1;
            }
            std::fprintf(stderr, "quillow-serve: /metrics 在 http://%s:%u/metrics\n",
                         m_options.metricsListen->address.c_str(), boundPort(m_metricsDaemon));
        }
        std::fflush(stderr);

        int signal = 0;
        for (;;) {
            if (sigwait(&handled, &signal) != 0)
                continue;
            if (signal != SIGHUP)
                break;
            rereadToken();
        }
        drain(signal, handled);
        return 0;
    }

private:
    // The main daemon, or with `metricsOnly` the one for the metrics
    // address, which neither guards nor logs its few connections.
    MHD_Daemon *startDaemon(const ListenAddress &listen, bool metricsOnly, unsigned connections)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(listen.port));
        inet_pton(AF_INET, listen.address.c_str(), &address.sin_addr);
        if (metricsOnly)
            return MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC, 0, nullptr, nullptr,
                                    &Front::answerMetrics, this, MHD_OPTION_SOCK_ADDR, &address,
                                    MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_LIMIT,
                                    connections, MHD_OPTION_END);
        return MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ITC, 0,
                                nullptr, nullptr, &Front::answer, this, MHD_OPTION_SOCK_ADDR, &address,
                                MHD_OPTION_THREAD_POOL_SIZE, kPollingThreads, MHD_OPTION_CONNECTION_TIMEOUT,
                                kIdleSeconds, MHD_OPTION_CONNECTION_LIMIT, connections,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                                MHD_OPTION_NOTIFY_COMPLETED, &Front::completed, this,
                                MHD_OPTION_NOTIFY_CONNECTION, &Front::connectionEvent, this, MHD_OPTION_END);
    }

    static unsigned boundPort(MHD_Daemon *daemon)
    {
        const MHD_DaemonInfo *bound = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        return bound ? unsigned(bound->port) : 0;
    }

    void rereadToken()
    {
        if (m_options.tokenFile.empty()) {
            std::fprintf(stderr, "quillow-serve: 收到 SIGHUP；没有令牌文件，无事可做。\n");
            return;
        }
        try {
            std::string token = readTokenFile(m_options.tokenFile);
            std::lock_guard lock(m_mutex);
            m_token = std::move(token);
            std::fprintf(stderr, "quillow-serve: 收到 SIGHUP，已重新读取令牌文件。\n");
        } catch (const std::runtime_error &error) {
            std::fprintf(stderr, "quillow-serve: 收到 SIGHUP，%s 仍用原来的令牌。\n", error.what());
        }
    }

    void drain(int signal, const sigset_t &handled)
    {
        std::fprintf(stderr, "quillow-serve: 收到信号 %d，/readyz 回答 503，%.1f 秒后停止接受新连接。\n",
                     signal, double(m_options.drainDelay.count()) / 1000);
        {
            std::lock_guard lock(m_mutex);
            m_draining = true;
        }
        // Load balancers take a few probes to notice; until then they send
        // requests here, which are served. A second signal ends the wait.
        const timespec delay{time_t(m_options.drainDelay.count() / 1000),
                             long(m_options.drainDelay.count() % 1000) * 1'000'000};
        if (delay.tv_sec > 0 || delay.tv_nsec > 0) {
            while (sigtimedwait(&handled, nullptr, &delay) == SIGHUP)
                rereadToken();
        }
        std::fprintf(stderr, "quillow-serve: 停止接受新连接，等待进行中的请求。\n");
        std::fflush(stderr);
        m_admission.close();
        const MHD_socket listening = MHD_quiesce_daemon(m_daemon);
        if (listening != MHD_INVALID_SOCKET)
            ::close(listening);
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait_until(lock, Clock::now() + m_options.drainDeadline,
                                 [this] { return m_exchanges == 0; });
        }
        // Renders still running are answered 503; no render is admitted any
        // more, so no connection stays suspended, which the library's stop
        // does not allow.
        m_link.abandonAll();
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait_until(lock, Clock::now() + kAbandonedFlush, [this] { return m_exchanges == 0; });
        }
        MHD_stop_daemon(m_daemon);
        m_link.stop();
        if (m_metricsDaemon)
            MHD_stop_daemon(m_metricsDaemon);
    }

    static void connectionEvent(void *self, MHD_Connection *connection, void **socketContext,
                                MHD_ConnectionNotificationCode code)
    {
        auto *front = static_cast<Front *>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo *fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            const MHD_ConnectionInfo *peer =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            *socketContext =
                front->m_guard.opened(fd ? fd->connect_fd : -1, peer ? peer->client_addr : nullptr);
        } else {
            front->m_guard.closed(static_cast<ConnectionGuard::Slot *>(*socketContext));
            *socketContext = nullptr;
        }
    }

    static ConnectionGuard::Slot *slotOf(MHD_Connection *connection)
    {
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<ConnectionGuard::Slot *>(info->socket_context) : nullptr;
    }

    static MHD_Result answer(void *self, MHD_Connection *connection, const char *url, const char *method,
                             const char *, const char *upload, size_t *uploadSize, void **state)
    {
        return static_cast<Front *>(self)->handle(connection, url, method, upload, uploadSize, state);
    }

    // The metrics address: /metrics alone.
    static MHD_Result answerMetrics(void *self, MHD_Connection *connection, const char *url,
                                    const char *method, const char *, const char *, size_t *uploadSize,
                                    void **state)
    {
        auto *front = static_cast<Front *>(self);
        if (!*state) {
            // Marks the request seen; its answer comes with the next call,
            // once any body has been read and dropped.
            *state = front;
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        Reply reply = std::strcmp(url, "/metrics") != 0 ? jsonError(404, "这个地址只提供 /metrics。")
                      : std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0
                          ? withHeader(jsonError(405, "这个地址只接受 GET。"), "Allow", "GET, HEAD")
                          : front->metricsReply();
        return queue(connection, std::move(reply));
    }

    MHD_Result handle(MHD_Connection *connection, const char *url, const char *method, const char *upload,
                      size_t *uploadSize, void **state)
    {
        if (!*state) {
            ConnectionGuard::Slot *slot = slotOf(connection);
            if (slot && !m_guard.headRead(slot))
                return MHD_NO;
            auto exchange = std::make_unique<Exchange>();
            exchange->slot = slot;
            exchange->started = Clock::now();
            exchange->method = method;
            exchange->path = url;
            const char *id = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Request-Id");
            exchange->requestId = id && usableRequestId(id) ? std::string(id) : newRequestId();
            const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length && std::strtoull(length, nullptr, 10) > kMaxBody)
                exchange->tooLarge = true;
            Exchange &begun = *exchange;
            *state = exchange.release();
            {
                std::lock_guard lock(m_mutex);
                ++m_exchanges;
            }
            if (std::strlen(url) + valuesLength(connection, MHD_GET_ARGUMENT_KIND, 2) > kMaxTarget)
                return respond(connection, begun, jsonError(414, "请求的地址超过 8 KiB。"));
            if (valuesLength(connection, MHD_HEADER_KIND, 4) > kMaxHeaders)
                return respond(connection, begun, jsonError(431, "请求头超过 16 KiB。"));
            if (begun.tooLarge)
                return respond(connection, begun, jsonError(413, "请求体超过 64 KiB。"));
            return MHD_YES;
        }
        auto *exchange = static_cast<Exchange *>(*state);
        if (exchange->rendered) {
            Reply reply = std::move(*exchange->rendered);
            exchange->rendered.reset();
            return respond(connection, *exchange, std::move(reply));
        }
        if (*uploadSize > 0) {
            if (exchange->body.size() + *uploadSize > kMaxBody)
                exchange->tooLarge = true;
            else if (!exchange->tooLarge)
                exchange->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->slot && !m_guard.requestRead(exchange->slot))
            return MHD_NO;
        std::optional<Reply> reply = route(connection, *exchange);
        if (!reply)
            return MHD_YES; // suspended until the render's answer
        return respond(connection, *exchange, std::move(*reply));
    }

    std::string newRequestId()
    {
        return m_idPrefix.substr(0, 12) + '-' + std::to_string(m_nextRequest.fetch_add(1) + 1);
    }

    // The length of the request's values of one kind, each name and value
    // counted with `separators` bytes around them: "?" or "&" and "=" in a
    // query (whose escapes libmicrohttpd has already undone), ": " and the
    // line end in the headers.
    static std::size_t valuesLength(MHD_Connection *connection, MHD_ValueKind kind, std::size_t separators)
    {
        struct Sum {
            std::size_t length = 0;
            std::size_t separators;
        } sum{0, separators};
        MHD_get_connection_values(
            connection, kind,
            [](void *into, MHD_ValueKind, const char *name, const char *value) {
                auto *total = static_cast<Sum *>(into);
                total->length += total->separators + std::strlen(name) + (value ? std::strlen(value) : 0);
                return MHD_YES;
            },
            &sum);
        return sum.length;
    }

    // Called once the response has been sent, or the connection lost.
    static void completed(void *self, MHD_Connection *connection, void **state, MHD_RequestTerminationCode)
    {
        auto *front = static_cast<Front *>(self);
        if (ConnectionGuard::Slot *slot = slotOf(connection))
            front->m_guard.answered(slot);
        std::unique_ptr<Exchange> exchange(static_cast<Exchange *>(*state));
        *state = nullptr;
        if (!exchange)
            return;
        if (exchange->status != 0)
            writeAccessLog(
                {exchange->method, exchange->path, exchange->status, exchange->bytes, exchange->queueMs,
                 exchange->renderMs,
                 std::chrono::duration<double, std::milli>(Clock::now() - exchange->started).count(),
                 exchange->requestId, exchange->slot ? ConnectionGuard::peer(exchange->slot) : ""});
        std::lock_guard lock(front->m_mutex);
        --front->m_exchanges;
        front->m_changed.notify_all();
    }

    // Queues `reply` on the connection, the library's own response made
    // from it. Takes the body file, if any.
    static MHD_Result queue(MHD_Connection *connection, Reply reply)
    {
        MHD_Response *response = nullptr;
        if (reply.status == 304) {
            // A 304 has no body, and a length, if sent, would have to be the
            // 200's. This library sends "Content-Length: 0" for an empty
            // answer and chunks one of unknown length; only the plain mode,
            // which closes the connection after it, sends neither.
            response = MHD_create_response_from_callback(
                MHD_SIZE_UNKNOWN, 1024,
                [](void *, uint64_t, char *, size_t) -> ssize_t { return MHD_CONTENT_READER_END_OF_STREAM; },
                nullptr, nullptr);
            if (response)
                MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
        } else if (reply.bodyFile >= 0) {
            // Sent from the file as the client takes it: the answer never
            // sits in this process's memory.
            response = MHD_create_response_from_fd64(reply.bodySize, reply.bodyFile);
            if (!response)
                ::close(reply.bodyFile);
        } else {
            response = MHD_create_response_from_buffer(
                reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
        }
        if (!response)
            return MHD_NO;
        for (const auto &[name, value] : reply.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    MHD_Result respond(MHD_Connection *connection, Exchange &exchange, Reply reply)
    {
        const bool render = exchange.path == "/v1/render";
        reply.headers.emplace_back("X-Request-Id", exchange.requestId);
        if (render) {
            const bool accepted = reply.status == 200 || reply.status == 304;
            m_metrics.countAnswer(reply.status, headerOf(reply, "X-Quillow-Format"),
                                  accepted ? exchange.preset : std::string());
            bool tokened;
            {
                std::lock_guard lock(m_mutex);
                tokened = !m_token.empty();
                if (m_draining)
                    reply.headers.emplace_back("Connection", "close");
            }
            // An answer behind a token is the client's own: a shared cache
            // must not hand it to others.
            if (tokened) {
                for (auto &[name, value] : reply.headers) {
                    if (strcasecmp(name.c_str(), "Cache-Control") == 0 && value.rfind("public", 0) == 0)
                        value = "private" + value.substr(6);
                }
            }
        }
        exchange.status = reply.status;
        exchange.bytes = reply.bodyFile >= 0 ? reply.bodySize : reply.body.size();
        exchange.queueMs = reply.queueMs;
        exchange.renderMs = reply.renderMs;
        return queue(connection, std::move(reply));
    }

    // The answer to a request that has arrived whole, or nothing when a
    // render was asked for: the connection is then suspended until it ends.
    std::optional<Reply> route(MHD_Connection *connection, Exchange &exchange)
    {
        const std::string &url = exchange.path;
        const std::string &method = exchange.method;
        const bool get = method == "GET" || method == "HEAD";
        const bool probe = url == "/healthz" || url == "/readyz";
        if (exchange.slot && ConnectionGuard::overLimit(exchange.slot) && !probe)
            return withHeader(jsonError(429, "来自 " + ConnectionGuard::peer(exchange.slot) +
                                                 " 的连接过多：请关闭空闲的连接后再试。"),
                              "Retry-After", "1");
        if (probe || url == "/metrics") {
            if (url == "/metrics" && m_options.metricsListen)
                return jsonError(404, "/metrics 在另一个地址上。");
            if (!get)
                return withHeader(jsonError(405, "这个地址只接受 GET。"), "Allow", "GET, HEAD");
            if (url == "/healthz")
                return Reply{200,
                             {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
                             "ok\n"};
            if (url == "/readyz") {
                const bool ready = this->ready();
                return Reply{ready ? 200 : 503,
                             {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
                             ready ? "ready\n" : "not ready\n"};
            }
            return metricsReply();
        }
        if (auto page = m_web.answer(
                method, url, MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match")))
            return Reply{page->status, std::move(page->headers), std::move(page->body)};
        if (url == "/v1/pack" && (method != "POST" || exchange.body.find("\"pack\"") == std::string::npos))
            return withHeader(jsonError(method != "POST" ? 405 : 400,
                                        "/v1/pack 只接受 POST，请求体是带 \"pack\" 和 \"phrases\" 的 JSON。"),
                              "Allow", "POST");
        if (url != "/v1/render" && url != "/v1/pack")
            return jsonError(404, "没有这个地址：请用 /v1/render。");
        // HEAD is a GET whose body libmicrohttpd leaves out: a cache or a
        // link checker learns the ETag, type and length without the bytes.
        if (!get && method != "POST")
            return withHeader(jsonError(405, "/v1/render 只接受 GET、HEAD 和 POST。"), "Allow",
                              "GET, HEAD, POST");
        if (!authorised(connection))
            return withHeader(jsonError(401, "缺少令牌或令牌不对：请在 Authorization 中给出 Bearer 令牌。"),
                              "WWW-Authenticate", "Bearer");
        if (exchange.tooLarge)
            return jsonError(413, "请求体超过 64 KiB。");

        WireRequest request;
        request.query = get;
        if (request.query) {
            struct Query {
                std::string payload;
                std::string preset;
                std::optional<std::string> badName; // a name or value that is not UTF-8
            } query;
            MHD_get_connection_values(
                connection, MHD_GET_ARGUMENT_KIND,
                [](void *into, MHD_ValueKind, const char *name, const char *value) {
                    auto *read = static_cast<Query *>(into);
                    if (!isUtf8(name) || (value && !isUtf8(value))) {
                        if (!read->badName)
                            read->badName = isUtf8(name) ? std::string(name) : std::string();
                        return MHD_YES;
                    }
                    read->payload += name;
                    read->payload += '\0';
                    if (value)
                        read->payload += value;
                    read->payload += '\0';
                    if (std::strcmp(name, "preset") == 0 && value)
                        read->preset = presetLabel(value);
                    return MHD_YES;
                },
                &query);
            // The query's escapes are undone byte by byte: text in another
            // encoding (GBK's %BC%D3) arrives as bytes that are no UTF-8,
            // which would be drawn as boxes.
            if (query.badName)
                return jsonError(
                    400,
                    query.badName->empty()
                        ? std::string("查询参数的名字不是有效的 UTF-8：请以 UTF-8 编码后再转义。")
                        : "查询参数 “" + *query.badName + "” 的值不是有效的 UTF-8：请以 UTF-8 编码后再转义。",
                    *query.badName);
            request.payload = std::move(query.payload);
            exchange.preset = std::move(query.preset);
        } else {
            request.payload = exchange.body;
            exchange.preset = presetOfJson(exchange.body);
        }
        const std::string fingerprint = m_link.fingerprint();
        if (const char *tags = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match"))
            request.ifNoneMatch = serviceTags(tags, fingerprint);
        return admit(connection, exchange, std::move(request), fingerprint);
    }

    bool ready()
    {
        std::lock_guard lock(m_mutex);
        return !m_draining && !m_link.gone();
    }

    std::optional<Reply> admit(MHD_Connection *connection, Exchange &exchange, WireRequest request,
                               const std::string &fingerprint)
    {
        if (m_link.gone())
            return jsonError(503, "渲染进程已退出。");
        const Clock::time_point submitted = Clock::now();
        const RenderAdmission::Verdict verdict = m_admission.admit([&] {
            MHD_suspend_connection(connection);
            m_link.submit(std::move(request), [this, connection, &exchange, submitted,
                                               fingerprint](ServiceLink::Outcome outcome, WireReply &&wire) {
                exchange.rendered = answerOf(outcome, std::move(wire), submitted, fingerprint);
                // Its worker is free: a client slow to read the answer holds
                // a connection, never a place among the renders.
                m_admission.release();
                MHD_resume_connection(connection);
            });
        });
        switch (verdict) {
        case RenderAdmission::Verdict::Closed:
            return withHeader(jsonError(503, "服务正在停止，不再接受新的渲染。"), "Retry-After", "5");
        case RenderAdmission::Verdict::Full:
            return withHeader(jsonError(429, "渲染队列已满，请稍后再试。"), "Retry-After", "1");
        case RenderAdmission::Verdict::Admitted:
            break;
        }
        return std::nullopt;
    }

    Reply answerOf(ServiceLink::Outcome outcome, WireReply &&wire, Clock::time_point submitted,
                   const std::string &fingerprint)
    {
        switch (outcome) {
        case ServiceLink::Outcome::Lost:
            return jsonError(500, "渲染服务意外退出，已重新启动；请重试。");
        case ServiceLink::Outcome::Gone:
            return jsonError(503, "渲染进程已退出。");
        case ServiceLink::Outcome::Dropped:
            return withHeader(jsonError(503, "服务正在停止，渲染没有在时限内完成。"), "Retry-After", "5");
        case ServiceLink::Outcome::Replied:
            break;
        }
        if (wire.workerLost)
            m_metrics.countWorkerLost();
        if (wire.bodyLost)
            return withHeader(jsonError(503, "服务器暂时没有地方存放这个回答，请稍后再试。"), "Retry-After",
                              "5");
        Reply reply{wire.status, std::move(wire.headers), std::move(wire.body), wire.bodyFile, wire.bodySize};
        const double totalMs = std::chrono::duration<double, std::milli>(Clock::now() - submitted).count();
        reply.renderMs = totalMs;
        for (auto header = reply.headers.begin(); header != reply.headers.end();) {
            if (header->first == "X-Quillow-Render-Ms") {
                // The render's own time, from the service; the rest waited.
                reply.renderMs = std::min(totalMs, std::strtod(header->second.c_str(), nullptr));
                header = reply.headers.erase(header);
                continue;
            }
            if (header->first == "ETag")
                header->second = clientTag(header->second, fingerprint);
            ++header;
        }
        reply.queueMs = totalMs - reply.renderMs;
        if (reply.status == 200)
            m_metrics.countRender(reply.queueMs / 1000, reply.renderMs / 1000);
        return reply;
    }

    bool authorised(MHD_Connection *connection)
    {
        std::string token;
        {
            std::lock_guard lock(m_mutex);
            token = m_token;
        }
        if (token.empty())
            return true;
        const char *header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
        std::string given = header ? header : "";
        // The scheme's name is case-insensitive; spaces may follow it.
        const std::size_t space = given.find(' ');
        if (space == std::string::npos || strcasecmp(given.substr(0, space).c_str(), "bearer") != 0)
            return false;
        given.erase(0, given.find_first_not_of(' ', space));
        given.erase(given.find_last_not_of(" \t") + 1);
        // Constant time in the token: every byte of it is compared, whatever
        // the given one's length.
        unsigned char difference = given.size() == token.size() ? 0 : 1;
        for (std::size_t i = 0; i < token.size(); ++i)
            difference |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
        return difference == 0;
    }

    Reply metricsReply()
    {
        ServerMetrics::Gauges gauges;
        gauges.inFlight = m_admission.admitted();
        gauges.queued = std::max(0, gauges.inFlight - m_workers);
        {
            std::lock_guard lock(m_mutex);
            gauges.ready = !m_draining;
        }
        gauges.ready = gauges.ready && !m_link.gone();
        gauges.serviceRestarts = m_link.restarts();
        gauges.connectionsTimedOut = m_guard.timedOut();
        return {200,
                {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-store"}},
                m_metrics.text(gauges)};
    }

    const ServerOptions &m_options;
    std::string m_token; // under m_mutex: SIGHUP replaces it
    int m_workers;
    int m_capacity;
    RenderAdmission m_admission;
    ServiceLink m_link;
    ConnectionGuard m_guard;
    ServerMetrics m_metrics;
    MHD_Daemon *m_daemon = nullptr;
    MHD_Daemon *m_metricsDaemon = nullptr;
    std::string m_idPrefix;
    std::atomic<unsigned long long> m_nextRequest{0};
    const WebPage m_web;

    std::mutex m_mutex; // everything below
    std::condition_variable m_changed;
    // Requests begun and not yet answered to their last byte: stopping the
    // daemon while one is being sent would cut it.
    int m_exchanges = 0;
    bool m_draining = false; // readiness says no
};

} // namespace

int runHttpFront(const ServerOptions &options, const sigset_t &handled)
{
    Front front(options);
    return front.run(handled);
}
