#include "startup_report.h"

#include "process_memory.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kIdleMilliseconds = 200;

class FirstPaintWatch : public QObject {
public:
    FirstPaintWatch(QWidget &window, AtRest untilAtRest)
        : QObject(&window), m_untilAtRest(std::move(untilAtRest))
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seenPaint) {
            m_seenPaint = true;
            // The window's own paint event comes before its children's and
            // before the picture goes to the platform; the next turn of the
            // event loop comes after both.
            QTimer::singleShot(0, this, &FirstPaintWatch::painted);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void painted()
    {
        m_paintedAt = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
        timespec cpu{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
        m_cpuAtPaint = cpu.tv_sec * 1000000000LL + cpu.tv_nsec;
        m_untilAtRest([this] { QTimer::singleShot(kIdleMilliseconds, this, &FirstPaintWatch::report); });
    }

    void report()
    {
        std::printf("%lld %lld %lld\n", m_paintedAt, m_cpuAtPaint, processMemoryKiB("VmHWM:"));
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    AtRest m_untilAtRest;
    bool m_seenPaint = false;
    long long m_paintedAt = 0;
    long long m_cpuAtPaint = 0;
};

} // namespace

void reportStartup(QWidget &window, AtRest untilAtRest)
{
    new FirstPaintWatch(window, std::move(untilAtRest));
}
