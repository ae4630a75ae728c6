// A stand-in for the program that ends as soon as its first window has been
// painted, so that a benchmark can time a whole process start. Built twice:
// as the real main window, and (BARE_WINDOW) as an empty window of the same
// size on a bare application, the floor that Qt itself costs.

#include "app/MainUnt.h"
#include "app/startup.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace {

// Quits once the window has painted itself for the first time.
class QuitOnFirstPaint : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QuitOnFirstPaint quit;
#ifdef BARE_WINDOW
    QWidget window;
    window.resize(TMainFrm::kDesignSize);
#else
    prepareApplication(app);
    TMainFrm window;
#endif
    window.installEventFilter(&quit);
    window.show();
    return app.exec();
}
