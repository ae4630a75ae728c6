#include "jobs/child_pool.h"

#include "composition/quillow_error.h"
#include "jobs/posix_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

QString cannotStart(const QString &reason)
{
    return QStringLiteral("无法开始渲染：%1。").arg(reason);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// Waits, briefly, for the process to be down to the calling thread. A thread
// that has just been joined can still be listed for a moment while the
// kernel finishes its exit; one that is still there after that is running.
// Returns the last count seen (0: unknown).
int settledThreadCount()
{
    constexpr int kLooks = 100;
    constexpr auto kPause = std::chrono::milliseconds(1);
    int threads = threadCount();
    for (int look = 1; look < kLooks && threads > 1; ++look) {
        std::this_thread::sleep_for(kPause);
        threads = threadCount();
    }
    return threads;
}

// The address space the process has mapped, in bytes; 0 when unknown.
std::size_t mappedBytes()
{
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[128] = {};
    const ssize_t got = readSome(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0)
        return 0;
    const unsigned long long pages = std::strtoull(text, nullptr, 10);
    return std::size_t(pages) * std::size_t(sysconf(_SC_PAGESIZE));
}

// In the child, before anything of its work: only calls that are safe
// between fork() and exec() in a process that had one thread.
void limitAddressSpace(std::size_t limit)
{
    rlimit current{};
    if (getrlimit(RLIMIT_AS, &current) != 0)
        return;
    if (current.rlim_cur != RLIM_INFINITY && current.rlim_cur <= limit)
        return; // the parent was given less already
    current.rlim_cur = rlim_t(limit);
    setrlimit(RLIMIT_AS, &current);
}

} // namespace

int threadCount()
{
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
        return 0;
    int count = 0;
    while (const dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(tasks);
    return count;
}

ChildPool::ChildPool(const ChildLimits &limits) : m_limits(limits)
{}

ChildPool::~ChildPool()
{
    killAll();
    for (Child &child : m_children) {
        ::close(child.reply);
        reapChild(child.pid);
    }
}

std::uint64_t ChildPool::start(const Work &work)
{
    if (const int threads = settledThreadCount(); threads > 1)
        throw QuillowError(cannotStart(
            QStringLiteral("这个进程有 %1 个线程，从中分出的进程可能卡在别的线程持有的锁上").arg(threads)));
    // Measured in the parent: the child starts with the same mappings.
    std::size_t addressLimit = 0;
    if (m_limits.memoryBytes > 0) {
        if (const std::size_t mapped = mappedBytes(); mapped > 0)
            addressLimit = mapped + m_limits.memoryBytes;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw QuillowError(cannotStart(systemReason(errno)));
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(ends[0]);
        if (m_limits.endsWithParent && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent))
            _exit(1);
        signal(SIGINT, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        if (addressLimit > 0)
            limitAddressSpace(addressLimit);
        if (m_limits.prepare)
            m_limits.prepare();
        work(ends[1]);
        _exit(0);
    }
    const int forkError = errno;
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        throw QuillowError(cannotStart(systemReason(forkError)));
    }
    Child child;
    child.id = ++m_lastId;
    child.pid = pid;
    child.reply = ends[0];
    child.deadline = Clock::now() + m_limits.time;
    m_children.push_back(std::move(child));
    return m_lastId;
}

int ChildPool::killLate()
{
    const Clock::time_point now = Clock::now();
    int wait = -1;
    for (Child &child : m_children) {
        if (child.killed)
            continue;
        if (child.deadline <= now) {
            // SIGKILL: a child that stopped answering may be stopped, or
            // blocked in a way that no other signal ends.
            ::kill(child.pid, SIGKILL);
            child.killed = true;
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(child.deadline - now).count();
        const int leftMs = int(std::min<std::int64_t>(left, std::numeric_limits<int>::max()));
        wait = wait < 0 ? leftMs : std::min(wait, leftMs);
    }
    return wait;
}

bool ChildPool::readFrom(Child &child, FinishedChild &ended)
{
    char block[64 * 1024];
    const ssize_t got = readSome(child.reply, block, sizeof block);
    if (got > 0) {
        child.replied.append(block, got);
        return false;
    }
    // The end of the reply, or a read that failed: either way nothing more
    // will come, and the child is reaped rather than left a zombie.
    ::close(child.reply);
    ended.id = child.id;
    ended.reply = std::move(child.replied);
    ended.status = reapChild(child.pid);
    ended.overTimeLimit = child.killed;
    return true;
}

bool ChildPool::wait(std::span<pollfd> others, std::vector<FinishedChild> &ended, int timeoutMs)
{
    int wait = killLate();
    if (timeoutMs >= 0)
        wait = wait < 0 ? timeoutMs : std::min(wait, timeoutMs);
    std::vector<pollfd> watched(others.begin(), others.end());
    for (const Child &child : m_children)
        watched.push_back({child.reply, POLLIN, 0});
    const int ready = poll(watched.data(), nfds_t(watched.size()), wait);
    if (ready < 0) {
        for (pollfd &other : others)
            other.revents = 0;
        return errno == EINTR;
    }
    for (std::size_t index = 0; index < others.size(); ++index)
        others[index].revents = watched[index].revents;
    auto entry = watched.begin() + std::ptrdiff_t(others.size());
    for (auto child = m_children.begin(); child != m_children.end(); ++entry) {
        FinishedChild finished;
        if (entry->revents != 0 && readFrom(*child, finished)) {
            ended.push_back(std::move(finished));
            child = m_children.erase(child);
        } else {
            ++child;
        }
    }
    killLate();
    return true;
}

std::vector<FinishedChild> ChildPool::finishAll()
{
    std::vector<FinishedChild> ended;
    for (Child &child : m_children) {
        FinishedChild finished;
        while (!readFrom(child, finished)) {
        }
        ended.push_back(std::move(finished));
    }
    m_children.clear();
    return ended;
}

void ChildPool::killAll()
{
    for (Child &child : m_children)
        ::kill(child.pid, SIGKILL);
}

void clearThreadStartingEnvironment()
{
    if (!qgetenv("QT_QPA_PLATFORM").startsWith("offscreen"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char *name : {"QT_IM_MODULE", "QT_IM_MODULES", "GTK_IM_MODULE", "XMODIFIERS",
                             "QT_QPA_GENERIC_PLUGINS", "QT_QPA_PLATFORMTHEME"})
        qunsetenv(name);
}
