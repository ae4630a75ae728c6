// The program's own start-up, as main() does it, reporting to the start-up
// benchmark when its window has first been painted and, once the font list
// has arrived, how much memory it took at the most.

#include "startup_report.h"

#include "app/shell/startup.h"
#include "app/window/MainUnt.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    prepareApplication(app);

    TMainFrm MainFrm;
    showMainWindow(MainFrm);
    // Installed after the window's own watchers, so that it sees the first
    // paint before them and takes the time before anything they start.
    reportStartup(MainFrm, [&MainFrm](const std::function<void()> &done) {
        auto *fonts = MainFrm.findChild<FontNameList *>(QStringLiteral("cbbfont"));
        if (!fonts || fonts->isFilled())
            done();
        else
            QObject::connect(fonts, &FontNameList::listArrived, fonts, done, Qt::SingleShotConnection);
    });
    return app.exec();
}
