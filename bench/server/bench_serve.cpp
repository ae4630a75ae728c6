// quillow-serve's speed against the ways a bot renders without it: the
// batch on the same lines, and one quillow-render process per request at the
// same parallelism. The server is driven in a closed loop by twice as many
// clients as cores, each on a keep-alive connection. Each benchmark reports
// the time per strip (manual time), the server also its median and 99th
// percentile latency and its memory (both processes) after the run.

#include "bench_ratios.h"
#include "process_memory.h"

#include "jobs/batch.h"
#include "jobs/job_options.h"

#include <QBuffer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStrips = 400;

QTemporaryDir &outputFolder()
{
    static QTemporaryDir folder;
    return folder;
}

int clients()
{
    return 2 * QThread::idealThreadCount();
}

// Strip i as a batch line's options, without the output.
QJsonObject stripObject(int i)
{
    static const QString text = QStringLiteral("友谊的小船说翻就翻我们一起大声喊出来好不好呀今天真开心");
    return {{QStringLiteral("phrase"), text.mid(i % (text.size() - 10), 1 + i % 10)},
            {QStringLiteral("seed"), i},
            {QStringLiteral("face"), QStringLiteral("WenQuanYi Micro Hei")}};
}

std::string body(int i)
{
    return QJsonDocument(stripObject(i % kStrips)).toJson(QJsonDocument::Compact).toStdString();
}

// A running quillow-serve on a free loopback port.
class Server {
public:
    Server()
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        char program[] = QUILLOW_SERVE_PATH;
        char listen[] = "--listen";
        char address[] = "127.0.0.1:0";
        char *arguments[] = {program, listen, address, nullptr};
        const int spawned = posix_spawn(&m_pid, program, &actions, nullptr, arguments, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        std::string said;
        char block[256];
        ssize_t got;
        while (spawned == 0 && said.find('\n') == std::string::npos &&
               (got = ::read(ends[0], block, sizeof block)) > 0)
            said.append(block, size_t(got));
        ::close(ends[0]);
        const std::size_t at = said.find("127.0.0.1:");
        if (at != std::string::npos)
            m_port = std::atoi(said.c_str() + at + 10);
    }

    ~Server()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    int port() const { return m_port; }

    // Resident memory of the HTTP process and its render service, in MiB.
    double residentMiB() const
    {
        double kib = double(processMemoryKiB("VmRSS:", "/proc/" + std::to_string(m_pid) + "/status"));
        std::ifstream children("/proc/" + std::to_string(m_pid) + "/task/" + std::to_string(m_pid) +
                               "/children");
        for (int child; children >> child;)
            kib += double(processMemoryKiB("VmRSS:", "/proc/" + std::to_string(child) + "/status"));
        return kib / 1024;
    }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

// One keep-alive connection; false when a request did not get a 200.
bool post(int &fd, int port, const std::string &payload)
{
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
    }
    const std::string request =
        "POST /v1/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Content-Length: " +
        std::to_string(payload.size()) + "\r\n\r\n" + payload;
    if (::write(fd, request.data(), request.size()) != ssize_t(request.size()))
        return false;
    std::string answer;
    char block[65536];
    std::size_t headerEnd = std::string::npos;
    std::size_t length = 0;
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got <= 0)
            return false;
        answer.append(block, size_t(got));
        if (headerEnd == std::string::npos && (headerEnd = answer.find("\r\n\r\n")) != std::string::npos) {
            std::string head = answer.substr(0, headerEnd);
            std::transform(head.begin(), head.end(), head.begin(), ::tolower);
            const std::size_t field = head.find("content-length:");
            length = field == std::string::npos ? 0 : std::strtoull(head.c_str() + field + 15, nullptr, 10);
        }
        if (headerEnd != std::string::npos && answer.size() >= headerEnd + 4 + length)
            return answer.compare(0, 12, "HTTP/1.1 200") == 0;
    }
}

void finish(benchmark::State &state, double seconds, int strips)
{
    state.SetIterationTime(seconds / strips);
    state.counters["strips_per_s"] = benchmark::Counter(strips / seconds, benchmark::Counter::kAvgIterations);
}

// Runs `requests` requests on `clients()` threads, each taking the next
// request number until none is left; returns each request's latency.
template <typename Call> std::vector<double> closedLoop(int requests, Call call, std::atomic<bool> &failed)
{
    std::atomic<int> next{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients()));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients(); ++c) {
        threads.emplace_back([&, c] {
            int fd = -1;
            for (int i; (i = next++) < requests;) {
                const Clock::time_point start = Clock::now();
                if (!call(fd, i))
                    failed = true;
                latencies[size_t(c)].push_back(std::chrono::duration<double>(Clock::now() - start).count());
            }
            if (fd >= 0)
                ::close(fd);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    std::vector<double> all;
    for (const auto &some : latencies)
        all.insert(all.end(), some.begin(), some.end());
    std::sort(all.begin(), all.end());
    return all;
}

void BM_ServeClosedLoop(benchmark::State &state)
{
    const int requests = int(state.range(0));
    Server server;
    if (server.port() == 0) {
        state.SkipWithError("quillow-serve did not start");
        return;
    }
    for (auto _ : state) {
        std::atomic<bool> failed{false};
        const Clock::time_point start = Clock::now();
        const std::vector<double> latencies = closedLoop(
            requests, [&](int &fd, int i) { return post(fd, server.port(), body(i)); }, failed);
        finish(state, std::chrono::duration<double>(Clock::now() - start).count(), requests);
        state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
        state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100] * 1000;
        state.counters["rss_MiB"] = server.residentMiB();
        if (failed)
            state.SkipWithError("a request failed");
    }
}

// Connections that send their request's head a byte a second, from
// 127.0.0.2 up, ten to an address (as many clients behind their own
// addresses would); one the server closes is opened again, so that `count`
// stay open while the object lives.
class SlowConnections {
public:
    explicit SlowConnections(int port, int count) : m_port(port), m_fds(std::size_t(count), -1)
    {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(count) + 1024);
        setrlimit(RLIMIT_NOFILE, &limit);
        for (std::size_t i = 0; i < m_fds.size(); ++i)
            m_fds[i] = open(i);
        m_thread = std::thread([this] { keep(); });
    }

    ~SlowConnections()
    {
        m_stop = true;
        m_thread.join();
        for (const int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    int reopened() const { return m_reopened; }

private:
    int open(std::size_t index) const
    {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 2 + std::uint32_t(index / 10));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        static const char head[] = "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        if (bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0 ||
            connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::send(fd, head, sizeof head - 1, MSG_NOSIGNAL) != ssize_t(sizeof head - 1)) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void keep()
    {
        // Bounded: a benchmark run lasts minutes at most.
        for (int second = 0; second < 3600 && !m_stop; ++second) {
            for (std::size_t i = 0; i < m_fds.size() && !m_stop; ++i) {
                char answer[512];
                if (m_fds[i] >= 0 && ::send(m_fds[i], "y", 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1 &&
                    ::recv(m_fds[i], answer, sizeof answer, MSG_DONTWAIT) < 0 && errno == EAGAIN)
                    continue;
                if (m_fds[i] >= 0)
                    ::close(m_fds[i]);
                m_fds[i] = open(i);
                ++m_reopened;
            }
            for (int tenth = 0; tenth < 10 && !m_stop; ++tenth)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    int m_port;
    std::vector<int> m_fds;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_reopened{0};
    std::thread m_thread;
};

// The closed loop again while 1,000 slow connections are held open.
void BM_ServeWithSlowConnections(benchmark::State &state)
{
    Server server;
    if (server.port() == 0) {
        state.SkipWithError("quillow-serve did not start");
        return;
    }
    SlowConnections slow(server.port(), 1000);
    for (auto _ : state) {
        std::atomic<bool> failed{false};
        const Clock::time_point start = Clock::now();
        const std::vector<double> latencies = closedLoop(
            kStrips, [&](int &fd, int i) { return post(fd, server.port(), body(i)); }, failed);
        finish(state, std::chrono::duration<double>(Clock::now() - start).count(), kStrips);
        state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
        state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100] * 1000;
        if (failed)
            state.SkipWithError("a request failed");
    }
    state.counters["slow_reopened"] = slow.reopened();
}

// The same lines through the batch on every core.
void BM_BatchSameLines(benchmark::State &state)
{
    QByteArray input;
    for (int i = 0; i < kStrips; ++i) {
        QJsonObject line = stripObject(i);
        line.insert(QStringLiteral("output"),
                    QDir(outputFolder().path()).filePath(QStringLiteral("b%1.png").arg(i)));
        input += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    }
    for (auto _ : state) {
        QBuffer lines(&input);
        lines.open(QIODevice::ReadOnly);
        QBuffer results;
        results.open(QIODevice::WriteOnly);
        const std::atomic<int> stop{0};
        const Clock::time_point start = Clock::now();
        const int failed = runBatch(lines, JobDraft(), results, QThread::idealThreadCount(), stop).failed;
        finish(state, std::chrono::duration<double>(Clock::now() - start).count(), kStrips);
        if (failed != 0)
            state.SkipWithError("a batch line failed");
    }
}

// What a bot does without the server: one quillow-render per sticker, as
// many at once as the server's clients.
void BM_ProcessPerRequest(benchmark::State &state)
{
    constexpr int kRequests = 100;
    for (auto _ : state) {
        std::atomic<bool> failed{false};
        const Clock::time_point start = Clock::now();
        closedLoop(
            kRequests,
            [](int &, int i) {
                const QJsonObject options = stripObject(i);
                std::string output =
                    QDir(outputFolder().path()).filePath(QStringLiteral("p%1.png").arg(i)).toStdString();
                std::string phrase = options.value(QStringLiteral("phrase")).toString().toStdString();
                std::string seed = std::to_string(i);
                char program[] = QUILLOW_RENDER_PATH;
                char o[] = "-o", s[] = "--seed", f[] = "--face", face[] = "WenQuanYi Micro Hei",
                     dashes[] = "--";
                char *arguments[] = {program, o,      output.data(), s,      seed.data(), f,
                                     face,    dashes, phrase.data(), nullptr};
                pid_t child = -1;
                if (posix_spawn(&child, program, nullptr, nullptr, arguments, environ) != 0)
                    return false;
                int status = 0;
                waitpid(child, &status, 0);
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            },
            failed);
        finish(state, std::chrono::duration<double>(Clock::now() - start).count(), kRequests);
        if (failed)
            state.SkipWithError("a process failed");
    }
}

} // namespace

BENCHMARK(BM_ServeClosedLoop)->Arg(kStrips)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServeClosedLoop)
    ->Arg(100)
    ->Arg(10000)
    ->Name("BM_ServeMemory")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServeWithSlowConnections)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BatchSameLines)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessPerRequest)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

std::vector<BenchRatio> benchRatios()
{
    const std::string serve = "BM_ServeClosedLoop/" + std::to_string(kStrips) + "/iterations:1/manual_time";
    return {
        {"serve per strip / batch per strip, same lines", serve, "BM_BatchSameLines/iterations:1/manual_time",
         "<= 1.11 (throughput >= 0.9x)"},
        {"process per request / serve, per strip", "BM_ProcessPerRequest/iterations:1/manual_time", serve,
         ">= 2.5"},
        {"serve p99 / median latency", {serve, "p99_ms"}, {serve, "median_ms"}, "<= 3"},
        {"serve p99 with 1000 slow connections open / without",
         {"BM_ServeWithSlowConnections/iterations:1/manual_time", "p99_ms"},
         {serve, "p99_ms"},
         "<= 1.5"},
        {"serve memory after 10000 requests / after 100",
         {"BM_ServeMemory/10000/iterations:1/manual_time", "rss_MiB"},
         {"BM_ServeMemory/100/iterations:1/manual_time", "rss_MiB"},
         "<= 1.1"},
    };
}
