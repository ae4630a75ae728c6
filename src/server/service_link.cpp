#include "server/service_link.h"

#include "server/http_front.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

// Where the render service finds its end of the socket.
constexpr int kServiceSocket = 3;

// A service that dies sooner than this after its start is started again
// only after this long, so that one that cannot start does not spin.
constexpr auto kRestartPause = std::chrono::seconds(1);

} // namespace

ServiceLink::ServiceLink(const ServerOptions &options) : m_options(options)
{}

ServiceLink::~ServiceLink() = default;

// Starts the program as the render service, with every signal unblocked and
// its symbols bound at start-up: each render process it forks then begins
// with them bound instead of looking each up again. Returns a pid of -1
// when it cannot be started or does not say hello.
ServiceLink::Service ServiceLink::spawn(std::string &fingerprint)
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
    std::vector<std::string> arguments = {m_program, kRenderServiceArgument, std::to_string(kServiceSocket),
                                          std::to_string(m_options.workers),
                                          std::to_string(m_options.timeLimit.count())};
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
        posix_spawn(&pid, m_program.c_str(), &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        errno = failed; // posix_spawn() returns its error rather than setting errno
        return {};
    }
    WireHello hello;
    if (!readHello(ends[0], hello)) {
        ::close(ends[0]);
        ::kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        errno = EPROTO;
        return {};
    }
    fingerprint = hello.fingerprint;
    return {pid, ends[0]};
}

bool ServiceLink::start(std::string &error)
{
    // The program as it was started, even should its file be replaced (a
    // package upgrade) while it runs.
    char program[4096];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0) {
        error = std::string("无法找到本程序的文件：") + strerror(errno) + "。";
        return false;
    }
    m_program.assign(program, std::size_t(length));
    m_service = spawn(m_fingerprint);
    m_serviceStarted = Clock::now();
    if (m_service.pid < 0) {
        error = std::string("无法启动渲染进程：") + strerror(errno) + "。";
        return false;
    }
    m_reader = std::thread([this] { readReplies(); });
    m_writer = std::thread([this] { writeRequests(); });
    return true;
}

void ServiceLink::submit(WireRequest request, Done done)
{
    std::unique_lock lock(m_mutex);
    if (m_gone || m_stopping) {
        lock.unlock();
        done(Outcome::Gone, WireReply());
        return;
    }
    request.id = m_nextId++;
    m_pending[request.id].done = std::move(done);
    m_outbox.push_back(std::move(request));
    m_outboxReady.notify_one();
}

void ServiceLink::finish(std::map<std::uint64_t, Pending>::iterator pending, Outcome outcome,
                         WireReply &&reply, std::unique_lock<std::mutex> &lock)
{
    Done done = std::move(pending->second.done);
    m_pending.erase(pending);
    lock.unlock();
    done(outcome, std::move(reply));
    lock.lock();
}

void ServiceLink::abandonAll()
{
    std::unique_lock lock(m_mutex);
    m_outbox.clear();
    while (!m_pending.empty())
        finish(m_pending.begin(), Outcome::Dropped, WireReply(), lock);
}

void ServiceLink::writeRequests()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_outboxReady.wait(lock, [this] { return m_stopping || !m_outbox.empty(); });
        if (m_stopping)
            return;
        WireRequest request = std::move(m_outbox.front());
        m_outbox.pop_front();
        // Counted as sent from here: should the service die before or while
        // it is written, restart() answers it as lost.
        if (const auto pending = m_pending.find(request.id); pending != m_pending.end())
            pending->second.sent = true;
        lock.unlock();
        {
            std::lock_guard writing(m_writing);
            // A failed write is the service gone: restart(), which waits for
            // this lock, answers the request.
            writeRequest(m_service.socket, request);
        }
        lock.lock();
    }
}

void ServiceLink::readReplies()
{
    for (;;) {
        WireReply reply;
        // Only this thread and restart(), called from it, change the socket.
        if (readReply(m_service.socket, reply, kBodyInMemory)) {
            std::unique_lock lock(m_mutex);
            if (const auto pending = m_pending.find(reply.id); pending != m_pending.end())
                finish(pending, Outcome::Replied, std::move(reply), lock);
            else if (reply.bodyFile >= 0)
                ::close(reply.bodyFile);
            continue;
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
        }
        if (!restart())
            return;
    }
}

// The service died (killed, out of memory): the renders it was given are
// lost and answered so, and a new service takes the requests from here on.
// False when none could be started: renders are then refused.
bool ServiceLink::restart()
{
    std::lock_guard writing(m_writing);
    int status = 0;
    if (m_service.pid > 0) {
        ::kill(m_service.pid, SIGKILL);
        while (waitpid(m_service.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(m_service.socket);
    if (WIFSIGNALED(status))
        std::fprintf(stderr, "quillow-serve: 渲染服务意外结束（信号 %d），重新启动。\n", WTERMSIG(status));
    else
        std::fprintf(stderr, "quillow-serve: 渲染服务意外结束（退出状态 %d），重新启动。\n",
                     WEXITSTATUS(status));
    if (Clock::now() - m_serviceStarted < kRestartPause)
        std::this_thread::sleep_for(kRestartPause);
    std::string fingerprint;
    const Service next = spawn(fingerprint);
    const int spawnError = errno;
    std::unique_lock lock(m_mutex);
    m_service = next;
    m_serviceStarted = Clock::now();
    ++m_restarts;
    if (next.pid >= 0)
        m_fingerprint = fingerprint;
    std::vector<std::uint64_t> lost;
    for (const auto &[id, pending] : m_pending) {
        if (pending.sent)
            lost.push_back(id);
    }
    for (const std::uint64_t id : lost) {
        if (const auto pending = m_pending.find(id); pending != m_pending.end())
            finish(pending, Outcome::Lost, WireReply(), lock);
    }
    if (next.pid < 0) {
        std::fprintf(stderr, "quillow-serve: 无法重新启动渲染进程：%s。\n", strerror(spawnError));
        m_gone = true;
        m_outbox.clear();
        while (!m_pending.empty())
            finish(m_pending.begin(), Outcome::Gone, WireReply(), lock);
    }
    return next.pid >= 0;
}

void ServiceLink::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_outboxReady.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    // Wakes the reader, which sees the service gone and, stopping, leaves
    // it be.
    if (m_service.socket >= 0)
        ::shutdown(m_service.socket, SHUT_RDWR);
    if (m_reader.joinable())
        m_reader.join();
    abandonAll();
    if (m_service.pid < 0)
        return;
    ::close(m_service.socket);
    while (waitpid(m_service.pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_service = Service();
}

bool ServiceLink::gone() const
{
    std::lock_guard lock(m_mutex);
    return m_gone;
}

std::string ServiceLink::fingerprint() const
{
    std::lock_guard lock(m_mutex);
    return m_fingerprint;
}

long long ServiceLink::restarts() const
{
    std::lock_guard lock(m_mutex);
    return m_restarts;
}
