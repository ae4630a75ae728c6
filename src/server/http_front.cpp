#include "server/http_front.h"

#include "server/wire.h"

#include <microhttpd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <getopt.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

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

const char kHelp[] =
    "用法：quillow-serve [选项]\n"
    "以 HTTP 提供 quillow-render 的渲染：POST /v1/render（JSON，键与批处理行相同，不含 output）\n"
    "或 GET /v1/render?phrase=…&…，回答文件的字节。另有 /healthz、/readyz 和 /metrics。\n"
    "\n"
    "  --listen 地址:端口      监听的 IPv4 地址和端口（默认 127.0.0.1:8080）\n"
    "  --workers N            同时渲染的进程数（默认为处理器核数）\n"
    "  --queue N              等待渲染的请求数上限，超出回答 429（默认为进程数的两倍）\n"
    "  --token-file 文件       要求 Authorization: Bearer <文件中的令牌>\n"
    "  --time-limit 秒         一次渲染的时间上限，超出回答 504（默认 10）\n"
    "  --drain-deadline 秒     收到 SIGTERM 或 SIGINT 后等待进行中请求的时间（默认 20）\n"
    "  --help                 显示本帮助\n"
    "\n"
    "TLS 由前面的反向代理负责。\n";

bool readWhole(const char *text, long long low, long long high, long long &value)
{
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || number < low || number > high)
        return false;
    value = number;
    return true;
}

bool readSeconds(const char *text, std::chrono::milliseconds &value)
{
    char *end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(seconds > 0) || seconds > 86400)
        return false;
    value = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return value.count() > 0;
}

struct Exchange {
    std::string body;
    bool tooLarge = false;
};

struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

Reply jsonError(int status, const std::string &message)
{
    std::string escaped;
    for (const char c : message) {
        if (c == '"' || c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return {status,
            {{"Content-Type", "application/json; charset=utf-8"}, {"Cache-Control", "no-store"}},
            "{\"error\":\"" + escaped + "\",\"key\":null}\n"};
}

// The upper bounds of the latency histogram, in seconds.
constexpr std::array<double, 11> kBuckets = {0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

// A running render service and the socket to it.
struct Service {
    pid_t pid = -1;
    int socket = -1;
};

// Where the render service finds its end of the socket.
constexpr int kServiceSocket = 3;

// A service that dies sooner than this after its start is started again
// only after this long, so that one that cannot start does not spin.
constexpr auto kRestartPause = std::chrono::seconds(1);

// Starts `program` as the render service (see runHttpFront()), with every
// signal unblocked and its symbols bound at start-up: each render process it
// forks then begins with them bound instead of looking each up again.
// Returns a pid of -1 when it cannot be started.
Service startService(const std::string &program, const ServerOptions &options)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Also when ends[1] is already kServiceSocket: dup2 onto itself clears
    // close-on-exec in posix_spawn.
    posix_spawn_file_actions_adddup2(&actions, ends[1], kServiceSocket);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> arguments = {program, kRenderServiceArgument, std::to_string(kServiceSocket),
                                          std::to_string(options.workers),
                                          std::to_string(options.timeLimit.count())};
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string bindNow = "LD_BIND_NOW=1";
    std::vector<char *> environment;
    for (char **variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "LD_BIND_NOW=", 12) != 0)
            environment.push_back(*variable);
    }
    environment.push_back(bindNow.data());
    environment.push_back(nullptr);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        errno = failed; // posix_spawn() returns its error rather than setting errno
        return {};
    }
    return {pid, ends[0]};
}

class Front {
public:
    explicit Front(const ServerOptions &options)
        : m_options(options), m_workers(options.workers),
          m_capacity(m_workers + (options.queue >= 0 ? options.queue : 2 * m_workers))
    {}

    int run(const sigset_t &stopping)
    {
        // The program as it was started, even should its file be replaced
        // (a package upgrade) while it runs.
        char program[4096];
        const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
        if (length <= 0) {
            std::fprintf(stderr, "quillow-serve: 无法找到本程序的文件：%s。\n", strerror(errno));
            return 1;
        }
        m_program.assign(program, std::size_t(length));
        m_service = startService(m_program, m_options);
        m_serviceStarted = Clock::now();
        if (m_service.pid < 0) {
            std::fprintf(stderr, "quillow-serve: 无法启动渲染进程：%s。\n", strerror(errno));
            return 1;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(m_options.port));
        inet_pton(AF_INET, m_options.address.c_str(), &address.sin_addr);
        m_daemon = MHD_start_daemon(
            MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC, 0, nullptr,
            nullptr, &Front::answer, this, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_TIMEOUT, 30u,
            MHD_OPTION_CONNECTION_LIMIT, 1024u, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
            MHD_OPTION_NOTIFY_COMPLETED, &Front::completed, this, MHD_OPTION_END);
        if (!m_daemon) {
            std::fprintf(stderr, "quillow-serve: 无法监听 %s:%d。\n", m_options.address.c_str(),
                         m_options.port);
            stopService();
            return 1;
        }
        std::thread replies([this] { readReplies(); });
        const MHD_DaemonInfo *bound = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
        std::fprintf(stderr, "quillow-serve: 正在监听 http://%s:%u/\n", m_options.address.c_str(),
                     bound ? unsigned(bound->port) : unsigned(m_options.port));
        std::fflush(stderr);

        int signal = 0;
        while (sigwait(&stopping, &signal) != 0) {
        }
        std::fprintf(stderr, "quillow-serve: 收到信号 %d，停止接受新连接，等待进行中的请求。\n", signal);
        {
            std::unique_lock lock(m_mutex);
            m_draining = true;
        }
        const MHD_socket listening = MHD_quiesce_daemon(m_daemon);
        if (listening != MHD_INVALID_SOCKET)
            ::close(listening);
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait_until(lock, Clock::now() + m_options.drainDeadline,
                                 [this] { return m_exchanges == 0; });
            m_abandoned = true;
        }
        m_changed.notify_all();
        MHD_stop_daemon(m_daemon);
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        // Wakes the reader, which sees the service gone and, stopping,
        // leaves it be.
        ::shutdown(m_service.socket, SHUT_RDWR);
        replies.join();
        stopService();
        return 0;
    }

private:
    static MHD_Result answer(void *self, MHD_Connection *connection, const char *url, const char *method,
                             const char *, const char *upload, size_t *uploadSize, void **state)
    {
        auto *front = static_cast<Front *>(self);
        if (!*state) {
            auto exchange = std::make_unique<Exchange>();
            const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length && std::strtoull(length, nullptr, 10) > kMaxBody)
                exchange->tooLarge = true;
            *state = exchange.release();
            {
                std::lock_guard lock(front->m_mutex);
                ++front->m_exchanges;
            }
            if (std::strlen(url) + valuesLength(connection, MHD_GET_ARGUMENT_KIND, 2) > kMaxTarget)
                return front->send(connection, front->counted(url, jsonError(414, "请求的地址超过 8 KiB。")));
            if (valuesLength(connection, MHD_HEADER_KIND, 4) > kMaxHeaders)
                return front->send(connection, front->counted(url, jsonError(431, "请求头超过 16 KiB。")));
            if (static_cast<Exchange *>(*state)->tooLarge)
                return front->send(connection, front->counted(url, jsonError(413, "请求体超过 64 KiB。")));
            return MHD_YES;
        }
        auto *exchange = static_cast<Exchange *>(*state);
        if (*uploadSize > 0) {
            if (exchange->body.size() + *uploadSize > kMaxBody)
                exchange->tooLarge = true;
            else if (!exchange->tooLarge)
                exchange->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        return front->send(connection, front->counted(url, front->route(connection, url, method, *exchange)));
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
    static void completed(void *self, MHD_Connection *, void **state, MHD_RequestTerminationCode)
    {
        std::unique_ptr<Exchange> exchange(static_cast<Exchange *>(*state));
        *state = nullptr;
        if (!exchange)
            return;
        auto *front = static_cast<Front *>(self);
        std::lock_guard lock(front->m_mutex);
        --front->m_exchanges;
        front->m_changed.notify_all();
    }

    MHD_Result send(MHD_Connection *connection, const Reply &reply)
    {
        MHD_Response *response = MHD_create_response_from_buffer(
            reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
        if (!response)
            return MHD_NO;
        for (const auto &[name, value] : reply.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
        MHD_destroy_response(response);
        return queued;
    }

    Reply route(MHD_Connection *connection, const std::string &url, const std::string &method,
                Exchange &exchange)
    {
        const bool get = method == "GET" || method == "HEAD";
        if (url == "/healthz" || url == "/readyz" || url == "/metrics") {
            if (!get)
                return withAllow(jsonError(405, "这个地址只接受 GET。"), "GET, HEAD");
            if (url == "/healthz")
                return {200,
                        {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
                        "ok\n"};
            if (url == "/readyz") {
                std::lock_guard lock(m_mutex);
                const bool ready = !m_serviceGone && !m_draining && m_admitted < m_capacity;
                return {ready ? 200 : 503,
                        {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}},
                        ready ? "ready\n" : "not ready\n"};
            }
            return {
                200,
                {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, {"Cache-Control", "no-store"}},
                metrics()};
        }
        if (url == "/v1/pack" && (method != "POST" || exchange.body.find("\"pack\"") == std::string::npos))
            return withAllow(jsonError(method != "POST" ? 405 : 400,
                                       "/v1/pack 只接受 POST，请求体是带 \"pack\" 和 \"phrases\" 的 JSON。"),
                             "POST");
        if (url != "/v1/render" && url != "/v1/pack")
            return jsonError(404, "没有这个地址：请用 /v1/render。");
        // HEAD is a GET whose body libmicrohttpd leaves out: a cache or a
        // link checker learns the ETag, type and length without the bytes.
        if (!get && method != "POST")
            return withAllow(jsonError(405, "/v1/render 只接受 GET、HEAD 和 POST。"), "GET, HEAD, POST");
        if (!authorised(connection))
            return withHeader(jsonError(401, "缺少令牌或令牌不对：请在 Authorization 中给出 Bearer 令牌。"),
                              "WWW-Authenticate", "Bearer");
        if (exchange.tooLarge)
            return jsonError(413, "请求体超过 64 KiB。");

        WireRequest request;
        request.query = get;
        if (request.query) {
            MHD_get_connection_values(
                connection, MHD_GET_ARGUMENT_KIND,
                [](void *into, MHD_ValueKind, const char *name, const char *value) {
                    auto *payload = static_cast<std::string *>(into);
                    *payload += name;
                    *payload += '\0';
                    if (value)
                        *payload += value;
                    *payload += '\0';
                    return MHD_YES;
                },
                &request.payload);
        } else {
            request.payload = exchange.body;
        }
        if (const char *tags = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match"))
            request.ifNoneMatch = tags;
        return render(std::move(request));
    }

    Reply render(WireRequest request)
    {
        const Clock::time_point started = Clock::now();
        {
            std::lock_guard lock(m_mutex);
            if (m_draining)
                return withHeader(jsonError(503, "服务正在停止，不再接受新的渲染。"), "Retry-After", "5");
            if (m_serviceGone)
                return jsonError(503, "渲染进程已退出。");
            if (m_admitted >= m_capacity)
                return withHeader(jsonError(429, "渲染队列已满，请稍后再试。"), "Retry-After", "1");
            ++m_admitted;
            request.id = m_nextId++;
            m_pending[request.id];
        }
        {
            std::lock_guard writing(m_writing);
            // A failed write is the service gone: restartService(), which
            // waits for this lock, answers the request.
            writeRequest(m_service.socket, request);
            std::lock_guard lock(m_mutex);
            m_pending[request.id].sent = true;
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            const Pending &pending = m_pending[request.id];
            return pending.reply || pending.lost || m_serviceGone || m_abandoned;
        });
        std::optional<WireReply> wire = std::move(m_pending[request.id].reply);
        const bool lost = m_pending[request.id].lost;
        m_pending.erase(request.id);
        --m_admitted;
        m_changed.notify_all();
        if (lost)
            return jsonError(500, "渲染服务意外退出，已重新启动；请重试。");
        if (!wire)
            return jsonError(503, m_abandoned ? "服务正在停止，渲染没有在时限内完成。" : "渲染进程已退出。");
        if (wire->workerLost)
            ++m_workerRestarts;
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        for (std::size_t i = 0; i < kBuckets.size(); ++i) {
            if (seconds <= kBuckets[i])
                ++m_latency[i];
        }
        ++m_latencyCount;
        m_latencySum += seconds;
        return {wire->status, std::move(wire->headers), std::move(wire->body)};
    }

    // Counts `reply` among the render requests answered when it answers
    // one: every status, the refusals made here before the render service
    // sees the request included.
    Reply counted(const std::string &url, Reply reply)
    {
        if (url != "/v1/render")
            return reply;
        std::string format;
        for (const auto &[name, value] : reply.headers) {
            if (name == "X-Quillow-Format")
                format = value;
        }
        std::lock_guard lock(m_mutex);
        ++m_counts[{reply.status, format}];
        return reply;
    }

    bool authorised(MHD_Connection *connection) const
    {
        if (m_options.token.empty())
            return true;
        const char *header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
        const std::string expected = "Bearer " + m_options.token;
        const std::string given = header ? header : "";
        // Constant time in the token: every byte of the expected value is
        // compared, whatever the given one's length.
        unsigned char difference = given.size() == expected.size() ? 0 : 1;
        for (std::size_t i = 0; i < expected.size(); ++i)
            difference |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
        return difference == 0;
    }

    std::string metrics()
    {
        std::lock_guard lock(m_mutex);
        std::ostringstream out;
        out << "# HELP quillow_requests_total Render requests answered, by status and format.\n"
               "# TYPE quillow_requests_total counter\n";
        for (const auto &[key, count] : m_counts)
            out << "quillow_requests_total{status=\"" << key.first << "\",format=\"" << key.second << "\"} "
                << count << '\n';
        out << "# HELP quillow_request_duration_seconds Time from admission to the answer of a render.\n"
               "# TYPE quillow_request_duration_seconds histogram\n";
        for (std::size_t i = 0; i < kBuckets.size(); ++i)
            out << "quillow_request_duration_seconds_bucket{le=\"" << kBuckets[i] << "\"} " << m_latency[i]
                << '\n';
        out << "quillow_request_duration_seconds_bucket{le=\"+Inf\"} " << m_latencyCount << '\n'
            << "quillow_request_duration_seconds_sum " << m_latencySum << '\n'
            << "quillow_request_duration_seconds_count " << m_latencyCount << '\n'
            << "# HELP quillow_in_flight Render requests admitted and not yet answered.\n"
               "# TYPE quillow_in_flight gauge\n"
            << "quillow_in_flight " << m_admitted << '\n'
            << "# HELP quillow_queue_depth Admitted render requests waiting for a worker.\n"
               "# TYPE quillow_queue_depth gauge\n"
            << "quillow_queue_depth " << std::max(0, m_admitted - m_workers) << '\n'
            << "# HELP quillow_worker_restarts_total Render processes killed for time or lost to a crash.\n"
               "# TYPE quillow_worker_restarts_total counter\n"
            << "quillow_worker_restarts_total " << m_workerRestarts << '\n'
            << "# HELP quillow_render_service_restarts_total Times the render service died and was started "
               "again.\n"
               "# TYPE quillow_render_service_restarts_total counter\n"
            << "quillow_render_service_restarts_total " << m_serviceRestarts << '\n';
        return out.str();
    }

    void readReplies()
    {
        for (;;) {
            WireReply reply;
            // Only this thread and restartService(), called from it, change
            // the socket.
            if (readReply(m_service.socket, reply)) {
                std::lock_guard lock(m_mutex);
                if (const auto waiting = m_pending.find(reply.id); waiting != m_pending.end())
                    waiting->second.reply = std::move(reply);
                m_changed.notify_all();
                continue;
            }
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    return;
            }
            if (!restartService())
                return;
        }
    }

    // The service died (killed, out of memory): the renders it was given
    // are lost and answered so, and a new service takes the requests from
    // here on. False when none could be started: renders are then refused.
    bool restartService()
    {
        std::lock_guard writing(m_writing);
        ::kill(m_service.pid, SIGKILL);
        int status = 0;
        while (waitpid(m_service.pid, &status, 0) < 0 && errno == EINTR) {
        }
        ::close(m_service.socket);
        if (WIFSIGNALED(status))
            std::fprintf(stderr, "quillow-serve: 渲染服务意外结束（信号 %d），重新启动。\n",
                         WTERMSIG(status));
        else
            std::fprintf(stderr, "quillow-serve: 渲染服务意外结束（退出状态 %d），重新启动。\n",
                         WEXITSTATUS(status));
        if (Clock::now() - m_serviceStarted < kRestartPause)
            std::this_thread::sleep_for(kRestartPause);
        const Service next = startService(m_program, m_options);
        std::lock_guard lock(m_mutex);
        m_service = next;
        m_serviceStarted = Clock::now();
        ++m_serviceRestarts;
        for (auto &[id, pending] : m_pending) {
            if (pending.sent && !pending.reply)
                pending.lost = true;
        }
        if (next.pid < 0) {
            std::fprintf(stderr, "quillow-serve: 无法重新启动渲染进程：%s。\n", strerror(errno));
            m_serviceGone = true;
        }
        m_changed.notify_all();
        return next.pid >= 0;
    }

    // Closes the socket, which ends the service once the renders it runs
    // are reaped, and waits for it.
    void stopService()
    {
        if (m_service.pid < 0)
            return;
        ::close(m_service.socket);
        while (waitpid(m_service.pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_service = Service();
    }

    static Reply withAllow(Reply reply, const char *methods)
    {
        return withHeader(std::move(reply), "Allow", methods);
    }

    static Reply withHeader(Reply reply, const char *name, const char *value)
    {
        reply.headers.emplace_back(name, value);
        return reply;
    }

    const ServerOptions &m_options;
    std::string m_program;
    Service m_service; // changed under both locks below
    Clock::time_point m_serviceStarted;
    int m_workers;
    int m_capacity;
    MHD_Daemon *m_daemon = nullptr;

    std::mutex m_writing; // one request on the socket at a time
    std::mutex m_mutex;   // everything below
    std::condition_variable m_changed;
    struct Pending {
        bool sent = false; // written to the service (or lost on the way)
        bool lost = false; // the service died with it
        std::optional<WireReply> reply;
    };
    std::map<std::uint64_t, Pending> m_pending;
    std::uint64_t m_nextId = 1;
    int m_admitted = 0;
    // Requests read and not yet answered to their last byte: stopping the
    // daemon while one is being sent would cut it.
    int m_exchanges = 0;
    bool m_draining = false;
    bool m_abandoned = false;
    bool m_serviceGone = false; // and could not be started again
    bool m_stopping = false;
    std::map<std::pair<int, std::string>, long long> m_counts;
    std::array<long long, kBuckets.size()> m_latency{};
    long long m_latencyCount = 0;
    double m_latencySum = 0;
    long long m_workerRestarts = 0;
    long long m_serviceRestarts = 0;
};

} // namespace

ParseOutcome parseServerOptions(int argc, char *argv[], ServerOptions &options, std::string &message)
{
    static const option kOptions[] = {
        {"listen", required_argument, nullptr, 'l'},
        {"workers", required_argument, nullptr, 'w'},
        {"queue", required_argument, nullptr, 'q'},
        {"token-file", required_argument, nullptr, 't'},
        {"time-limit", required_argument, nullptr, 'T'},
        {"drain-deadline", required_argument, nullptr, 'd'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    long long number = 0;
    for (;;) {
        const int given = getopt_long(argc, argv, "", kOptions, nullptr);
        if (given == -1)
            break;
        switch (given) {
        case 'h':
            message = kHelp;
            return ParseOutcome::Help;
        case 'l': {
            const std::string value = optarg;
            const std::size_t colon = value.rfind(':');
            in_addr parsed{};
            if (colon == std::string::npos ||
                inet_pton(AF_INET, value.substr(0, colon).c_str(), &parsed) != 1 ||
                !readWhole(value.c_str() + colon + 1, 0, 65535, number)) {
                message = "--listen 必须写成 IPv4地址:端口（如 127.0.0.1:8080），而不是 “" + value + "”。";
                return ParseOutcome::Error;
            }
            options.address = value.substr(0, colon);
            options.port = int(number);
            break;
        }
        case 'w':
            if (!readWhole(optarg, 1, 1024, number)) {
                message = std::string("--workers 必须是 1 到 1024 之间的整数，而不是 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            options.workers = int(number);
            break;
        case 'q':
            if (!readWhole(optarg, 0, 100000, number)) {
                message = std::string("--queue 必须是 0 到 100000 之间的整数，而不是 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            options.queue = int(number);
            break;
        case 'T':
        case 'd':
            if (!readSeconds(optarg, given == 'T' ? options.timeLimit : options.drainDeadline)) {
                message = std::string(given == 'T' ? "--time-limit" : "--drain-deadline") +
                          " 必须是 0 到 86400 之间的正秒数，而不是 “" + optarg + "”。";
                return ParseOutcome::Error;
            }
            break;
        case 't': {
            std::ifstream file(optarg, std::ios::binary);
            std::string token((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' '))
                token.pop_back();
            if (!file.good() && !file.eof()) {
                message = std::string("无法读取令牌文件 “") + optarg + "”。";
                return ParseOutcome::Error;
            }
            if (token.empty()) {
                message = std::string("令牌文件 “") + optarg + "” 是空的或无法读取。";
                return ParseOutcome::Error;
            }
            options.token = token;
            break;
        }
        default:
            message = std::string("未知选项或缺少值：") + argv[optind - 1] + "。请看 --help。";
            return ParseOutcome::Error;
        }
    }
    // Resolved here, before the render service is forked: it and the HTTP
    // side must agree on how many renders run at once.
    if (options.workers == 0)
        options.workers = int(std::max(1u, std::thread::hardware_concurrency()));
    if (optind < argc) {
        message = std::string("多余的参数：") + argv[optind] + "。请看 --help。";
        return ParseOutcome::Error;
    }
    return ParseOutcome::Run;
}

int runHttpFront(const ServerOptions &options, const sigset_t &stopping)
{
    Front front(options);
    return front.run(stopping);
}
