#pragma once

#include <QByteArray>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <span>
#include <vector>

#include <poll.h>
#include <sys/types.h>

// What every child of a pool is held to.
struct ChildLimits {
    // A child still running this long after it was forked is killed with
    // SIGKILL; its reply ends there.
    std::chrono::milliseconds time{std::chrono::minutes(5)};
    // Address space (RLIMIT_AS) a child may take on top of what it shares
    // with its parent at the fork; 0: only the limit the parent has. Past it
    // an allocation fails in the child, which says so in its reply.
    std::size_t memoryBytes = 0;
    // Called in every child first, before its work: readies the process for
    // its one job. Null: nothing.
    void (*prepare)() = nullptr;
    // The child is killed should the parent die first: its work is of use
    // to the parent alone, and nobody else would stop it at its time limit.
    bool endsWithParent = false;
};

// How one child ended.
struct FinishedChild {
    std::uint64_t id = 0;
    QByteArray reply;           // everything it wrote to its reply descriptor
    int status = 0;             // as waitpid() reports it
    bool overTimeLimit = false; // the pool killed it for passing ChildLimits::time
};

// Forked children, each doing one piece of work and writing its reply to a
// pipe: the pool forks them, watches their deadlines, reads their replies
// and reaps them. Callers say what a child does, not how it is scheduled.
//
// Children are forked from the calling thread, so the process must have no
// other: a lock another thread held at the fork (the allocator's, Qt's)
// would never be released in the child. start() checks that first.
class ChildPool {
public:
    // Runs in the child with the write end of its reply pipe.
    using Work = std::function<void(int reply)>;

    explicit ChildPool(const ChildLimits &limits);
    // Kills the children still running and reaps them.
    ~ChildPool();
    ChildPool(const ChildPool &) = delete;
    ChildPool &operator=(const ChildPool &) = delete;

    // Forks a child that ignores SIGINT and SIGTERM (the parent decides when
    // it stops), takes the limits, calls the preparation, runs `work` and
    // ends with _exit(0): no destructors, exit handlers or stdio buffers of
    // the parent's run twice. Returns the child's id, never 0. Throws
    // QuillowError ("无法开始渲染：…。") when no child can be started: the
    // process runs more than one thread, or a pipe or the fork fails.
    std::uint64_t start(const Work &work);

    // Children started and not yet reported by wait() or finishAll().
    int running() const { return int(m_children.size()); }

    // Kills the children past their deadline, then waits until a child's
    // reply moves, one of `others` becomes ready (their revents are set), the
    // next deadline comes or `timeoutMs` passes (-1: no time of the
    // caller's). Appends to `ended` each child whose reply ended meanwhile,
    // reaped. A signal cuts the wait short; that is no failure. Returns false,
    // errno set, when poll() fails otherwise: the children then stay as they
    // are, for finishAll().
    bool wait(std::span<pollfd> others, std::vector<FinishedChild> &ended, int timeoutMs = -1);

    // Reads every child's reply to its end, blocking, and reaps it. For when
    // waiting with poll() is no longer possible.
    std::vector<FinishedChild> finishAll();

    // Kills every running child with SIGKILL; wait() reports them as usual.
    void killAll();

private:
    struct Child {
        std::uint64_t id = 0;
        pid_t pid = -1;
        int reply = -1;
        std::chrono::steady_clock::time_point deadline;
        bool killed = false; // for its time limit
        QByteArray replied;
    };

    int killLate();
    // Reads once from the child's reply; true when it ended (and was reaped).
    bool readFrom(Child &child, FinishedChild &ended);

    ChildLimits m_limits;
    std::uint64_t m_lastId = 0;
    std::list<Child> m_children;
};

// The threads of the calling process as /proc/self/task lists them; 0 when
// that cannot be read (no /proc mounted).
int threadCount();

// Sets the environment so that QGuiApplication starts no thread of its own,
// for a process that is to fork children: the offscreen platform (kept with
// its arguments when it is asked for already), and no input method
// (QT_IM_MODULE, and GTK_IM_MODULE and XMODIFIERS with it), generic input
// plugins (QT_QPA_GENERIC_PLUGINS) or platform theme (QT_QPA_PLATFORMTHEME).
// A windowing system's platform reads its events on a thread, an input
// method talks to its server over D-Bus on one, and plugins may start their
// own. Call it before QGuiApplication exists; none of these change a pixel
// of what is drawn off screen.
void clearThreadStartingEnvironment();
