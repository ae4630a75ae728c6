// The program's start-up followed by a user opening the font list and
// going to its end, reporting to the font-list benchmark as one line on
// standard output: "<open> <peak>", <open> the nanoseconds from the click on
// the closed box to the open list painted and handed to the platform, <peak>
// the process's peak resident memory in KiB once the list's end has been
// painted and the program has idled for a moment.

#include "process_memory.h"

#include "app/shell/startup.h"
#include "app/window/MainUnt.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

constexpr int kIdleMilliseconds = 200;

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits for the open list's paints: first the list as it opens, then its end.
class ListWatch : public QObject {
public:
    explicit ListWatch(FontNameList &fonts) : QObject(&fonts), m_fonts(fonts) {}

    void click()
    {
        qApp->installEventFilter(this);
        const QPoint at = m_fonts.rect().center();
        m_clickedAt = nowNs();
        QMouseEvent press(QEvent::MouseButtonPress, at, m_fonts.mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_fonts, &press);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_waiting && m_fonts.view()->isVisible() &&
            watched == m_fonts.view()->viewport()) {
            m_waiting = true;
            // The next turn of the event loop comes after the hand-over.
            QTimer::singleShot(0, this, &ListWatch::painted);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void painted()
    {
        m_waiting = false;
        if (m_openNs < 0) {
            m_openNs = nowNs() - m_clickedAt;
            m_fonts.view()->scrollToBottom();
            return;
        }
        qApp->removeEventFilter(this);
        QTimer::singleShot(kIdleMilliseconds, this, [this] {
            std::printf("%lld %lld\n", m_openNs, processMemoryKiB("VmHWM:"));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }

    FontNameList &m_fonts;
    long long m_clickedAt = 0;
    long long m_openNs = -1;
    bool m_waiting = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    prepareApplication(app);

    TMainFrm MainFrm;
    showMainWindow(MainFrm);
    auto *fonts = MainFrm.findChild<FontNameList *>(QStringLiteral("cbbfont"));
    if (!fonts)
        return 1;
    auto *watch = new ListWatch(*fonts);
    // A user clicks once the window is up and the list is in.
    const auto clickSoon = [watch] { QTimer::singleShot(kIdleMilliseconds, watch, &ListWatch::click); };
    if (fonts->isFilled())
        clickSoon();
    else
        QObject::connect(fonts, &FontNameList::listArrived, watch, clickSoon, Qt::SingleShotConnection);
    return app.exec();
}
