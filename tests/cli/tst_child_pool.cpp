#include "composition/quillow_error.h"
#include "jobs/child_pool.h"
#include "jobs/posix_io.h"

#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <map>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "one_thread.h"

namespace {

// Waits until every child of `pool` has ended, by id.
std::map<std::uint64_t, FinishedChild> waitForAll(ChildPool &pool)
{
    std::map<std::uint64_t, FinishedChild> ended;
    while (pool.running() > 0) {
        std::vector<FinishedChild> some;
        if (!pool.wait({}, some))
            break;
        for (FinishedChild &child : some)
            ended.emplace(child.id, std::move(child));
    }
    return ended;
}

// `size` bytes that differ from one offset and one child to the next.
QByteArray pattern(std::size_t size, int child)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    for (std::size_t at = 0; at < size; ++at)
        bytes[qsizetype(at)] = char((at * 7 + std::size_t(child) * 13) % 251);
    return bytes;
}

void replyWith(int fd, const QByteArray &bytes)
{
    writeAll(fd, bytes.constData(), std::size_t(bytes.size()));
}

bool prepared = false;

void prepareChild()
{
    prepared = true;
}

void ignoreSignal(int)
{}

} // namespace

// Under AddressSanitizer an allocation past the limit returns null, as it
// does without it, rather than ending the child.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

class TestChildPool : public QObject {
    Q_OBJECT

private slots:
    void repliesComeBackWholeWhileOthersRun();
    void childPastItsTimeLimitIsKilled();
    void memoryLimitFailsTheChildsAllocations_data();
    void memoryLimitFailsTheChildsAllocations();
    void preparationRunsInTheChildBeforeItsWork();
    void refusesToForkBesideAnotherThread();
    void waitWatchesTheCallersDescriptorsAndSurvivesSignals();
    void clearsWhatMakesQtStartThreads_data();
    void clearsWhatMakesQtStartThreads();
};

// Replies of every size, larger than a pipe holds included, written by
// children running at once, each come back whole to the child that wrote it.
void TestChildPool::repliesComeBackWholeWhileOthersRun()
{
    const std::vector<std::size_t> sizes = {0, 1, 4095, 65536, 3 * 1024 * 1024 + 7};
    const std::optional<QByteArray> outcome = inOneThread([&] {
        ChildPool pool(ChildLimits{});
        std::map<std::uint64_t, int> children;
        for (int child = 0; child < int(sizes.size()); ++child) {
            const std::uint64_t id =
                pool.start([&](int reply) { replyWith(reply, pattern(sizes[std::size_t(child)], child)); });
            children.emplace(id, child);
        }
        const auto ended = waitForAll(pool);
        QByteArray problems;
        for (const auto &[id, child] : children) {
            const auto found = ended.find(id);
            if (found == ended.end())
                problems += "child " + QByteArray::number(child) + " never ended; ";
            else if (found->second.reply != pattern(sizes[std::size_t(child)], child))
                problems += "child " + QByteArray::number(child) + " replied " +
                            QByteArray::number(found->second.reply.size()) + " other bytes; ";
            else if (!WIFEXITED(found->second.status) || WEXITSTATUS(found->second.status) != 0 ||
                     found->second.overTimeLimit)
                problems += "child " + QByteArray::number(child) + " did not end well; ";
        }
        return problems;
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, QByteArray());
}

// A child that never ends is killed at its deadline and reported as over its
// time limit, with what it had replied so far; a quick sibling is not.
void TestChildPool::childPastItsTimeLimitIsKilled()
{
    const std::optional<QByteArray> outcome = inOneThread([] {
        ChildLimits limits;
        limits.time = std::chrono::milliseconds(300);
        ChildPool pool(limits);
        const std::uint64_t stuck = pool.start([](int reply) {
            replyWith(reply, "started");
            for (;;)
                pause();
        });
        const std::uint64_t quick = pool.start([](int reply) { replyWith(reply, "done"); });
        const auto ended = waitForAll(pool);
        const FinishedChild &late = ended.at(stuck);
        const FinishedChild &early = ended.at(quick);
        return QByteArray::number(late.overTimeLimit) + ' ' +
               QByteArray::number(WIFSIGNALED(late.status) ? WTERMSIG(late.status) : 0) + ' ' + late.reply +
               ' ' + QByteArray::number(early.overTimeLimit) + ' ' + early.reply;
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, "1 " + QByteArray::number(SIGKILL) + " started 0 done");
}

void TestChildPool::memoryLimitFailsTheChildsAllocations_data()
{
    QTest::addColumn<std::size_t>("limit");
    QTest::addColumn<std::size_t>("asked");
    QTest::addColumn<QByteArray>("expected");
    constexpr std::size_t MiB = 1024 * 1024;
    QTest::newRow("no limit, 1 GiB") << std::size_t(0) << 1024 * MiB << QByteArray("given");
    QTest::newRow("64 MiB limit, 1 GiB") << 64 * MiB << 1024 * MiB << QByteArray("refused");
    QTest::newRow("64 MiB limit, 65 MiB") << 64 * MiB << 65 * MiB << QByteArray("refused");
    // The limit comes on top of what the parent had mapped.
    QTest::newRow("64 MiB limit, 32 MiB") << 64 * MiB << 32 * MiB << QByteArray("given");
}

// The limit holds in the child alone: its allocations past it fail (and it
// can say so), while the parent's stay as they were.
void TestChildPool::memoryLimitFailsTheChildsAllocations()
{
    QFETCH(std::size_t, limit);
    QFETCH(std::size_t, asked);
    QFETCH(QByteArray, expected);
    const std::optional<QByteArray> outcome = inOneThread([&] {
        ChildLimits limits;
        limits.memoryBytes = limit;
        ChildPool pool(limits);
        pool.start([&](int reply) {
            void *block = std::malloc(asked);
            replyWith(reply, block ? "given" : "refused");
            std::free(block);
        });
        QByteArray reply = waitForAll(pool).begin()->second.reply;
        void *block = std::malloc(asked);
        reply += block ? " parent given" : " parent refused";
        std::free(block);
        return reply;
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, expected + " parent given");
}

void TestChildPool::preparationRunsInTheChildBeforeItsWork()
{
    const std::optional<QByteArray> outcome = inOneThread([] {
        ChildLimits limits;
        limits.prepare = prepareChild;
        ChildPool pool(limits);
        pool.start([](int reply) { replyWith(reply, prepared ? "prepared" : "not prepared"); });
        return waitForAll(pool).begin()->second.reply + (prepared ? " parent prepared" : "");
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, QByteArray("prepared"));
}

// With a second thread running the pool says why it forks nothing; once
// the thread has been joined it forks again at once.
void TestChildPool::refusesToForkBesideAnotherThread()
{
    const std::optional<QByteArray> outcome = inOneThread([] {
        ChildPool pool(ChildLimits{});
        int release[2];
        if (pipe(release) != 0)
            return QByteArray("no pipe");
        std::thread other([&] {
            char byte;
            readSome(release[0], &byte, 1);
        });
        QByteArray said;
        try {
            pool.start([](int) {});
            said = "forked beside a thread";
        } catch (const QuillowError &error) {
            said = error.message().toUtf8();
        }
        writeAll(release[1], "x", 1);
        other.join();
        try {
            pool.start([](int reply) { replyWith(reply, "forked"); });
            said += " | " + waitForAll(pool).begin()->second.reply;
        } catch (const QuillowError &error) {
            said += " | " + error.message().toUtf8();
        }
        return said;
    });
    QVERIFY(outcome);
    const QString said = QString::fromUtf8(*outcome);
    QVERIFY2(said.startsWith(QStringLiteral("无法开始渲染：这个进程有 2 个线程")), qPrintable(said));
    QVERIFY2(said.endsWith(QStringLiteral(" | forked")), qPrintable(said));
}

// A descriptor of the caller's that becomes readable ends the wait and is
// reported; a signal that interrupts the wait is no failure, and the child
// is still reported when it ends.
void TestChildPool::waitWatchesTheCallersDescriptorsAndSurvivesSignals()
{
    const std::optional<QByteArray> outcome = inOneThread([] {
        struct sigaction action {};
        action.sa_handler = ignoreSignal; // no SA_RESTART: poll() fails with EINTR
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, nullptr);
        ChildPool pool(ChildLimits{});
        int go[2];
        if (pipe(go) != 0)
            return QByteArray("no pipe");
        const pid_t parent = getpid();
        // The child signals its parent, then waits for the parent's word on
        // `go` before it replies: the wait must come back for the signal and
        // for the descriptor before the child can end.
        pool.start([&](int reply) {
            ::close(go[1]);
            ::kill(parent, SIGUSR1);
            char byte;
            readSome(go[0], &byte, 1);
            replyWith(reply, "ended");
        });
        int watchedPipe[2];
        if (pipe(watchedPipe) != 0)
            return QByteArray("no pipe");
        writeAll(watchedPipe[1], "x", 1);
        pollfd watched[] = {{watchedPipe[0], POLLIN, 0}};
        std::vector<FinishedChild> ended;
        QByteArray said;
        if (!pool.wait(watched, ended))
            said += "wait failed; ";
        said += (watched[0].revents & POLLIN) ? "readable" : "not readable";
        for (int round = 0; round < 100 && ended.empty(); ++round) {
            if (!pool.wait({}, ended, 10))
                said += "; wait failed";
            if (round == 5)
                writeAll(go[1], "x", 1);
        }
        return said + "; " + (ended.empty() ? QByteArray("no child") : ended.front().reply);
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, QByteArray("readable; ended"));
}

void TestChildPool::clearsWhatMakesQtStartThreads_data()
{
    QTest::addColumn<QByteArray>("platform");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("xcb") << QByteArray("xcb") << QByteArray("offscreen");
    QTest::newRow("none") << QByteArray() << QByteArray("offscreen");
    QTest::newRow("offscreen with a screen")
        << QByteArray("offscreen:configfile=screens.json") << QByteArray("offscreen:configfile=screens.json");
}

void TestChildPool::clearsWhatMakesQtStartThreads()
{
    QFETCH(QByteArray, platform);
    QFETCH(QByteArray, expected);
    const std::optional<QByteArray> outcome = inOneThread([&] {
        const char *const variables[] = {"QT_IM_MODULE", "GTK_IM_MODULE", "XMODIFIERS",
                                         "QT_QPA_GENERIC_PLUGINS", "QT_QPA_PLATFORMTHEME"};
        for (const char *name : variables)
            qputenv(name, "ibus");
        if (platform.isEmpty())
            qunsetenv("QT_QPA_PLATFORM");
        else
            qputenv("QT_QPA_PLATFORM", platform);
        clearThreadStartingEnvironment();
        QByteArray left;
        for (const char *name : variables) {
            if (qEnvironmentVariableIsSet(name))
                left += QByteArray(name) + ' ';
        }
        return left + qgetenv("QT_QPA_PLATFORM");
    });
    QVERIFY(outcome);
    QCOMPARE(*outcome, expected);
}

QTEST_GUILESS_MAIN(TestChildPool)
#include "tst_child_pool.moc"
