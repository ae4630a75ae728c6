#include "app/startup.h"

#include "app/app_icon.h"
#include "app/chinese_ui.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace {

// Gives the application its icon on the turn of the event loop after the
// watched window's first paint, then goes.
class IconAfterFirstPaint : public QObject {
public:
    explicit IconAfterFirstPaint(QWidget &window) : QObject(&window) { window.installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                QApplication::setWindowIcon(appIcon());
                deleteLater();
            });
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void prepareApplication(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Quillow"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillow"));
    installChineseUi(app);
}

void showMainWindow(QWidget &window)
{
    new IconAfterFirstPaint(window);
    window.show();
}
