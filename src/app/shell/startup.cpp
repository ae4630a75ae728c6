#include "app/shell/startup.h"

#include "app/shell/app_icon.h"
#include "app/shell/cache_folder.h"
#include "app/shell/chinese_ui.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

QtMessageHandler g_nextHandler = nullptr;

void dropHarmlessQtWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!isHarmlessQtWarning(type, message))
        g_nextHandler(type, context, message);
}

// Runs its work on the turn of the event loop after the watched window's
// first paint, then goes.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget &window, std::function<void()> work) : QObject(&window), m_work(std::move(work))
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                m_work();
                deleteLater();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_work;
};

} // namespace

bool isHarmlessQtWarning(QtMsgType type, const QString &message)
{
    // Outside a login session (a bare X server, a container, a service)
    // Qt makes a private runtime folder of its own, works the same, and says
    // so once per run. Matched on the whole fixed text, so a failure to make
    // that folder (another message) still shows.
    return type == QtWarningMsg &&
           message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '"));
}

void silenceHarmlessQtWarnings()
{
    QtMessageHandler previous = qInstallMessageHandler(dropHarmlessQtWarnings);
    // Installed twice, it would hand messages to itself.
    if (previous != dropHarmlessQtWarnings)
        g_nextHandler = previous;
}

void prepareApplication(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Quillow"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillow"));
    installChineseUi(app);
}

void runAfterFirstPaint(QWidget &window, std::function<void()> work)
{
    new AfterFirstPaint(window, std::move(work));
}

void showMainWindow(QWidget &window)
{
    runAfterFirstPaint(window, [] { QApplication::setWindowIcon(appIcon()); });
    removeStaleCacheFilesAfterFirstPaint(window);
    window.show();
}
