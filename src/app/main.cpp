#include "app/shell/startup.h"
#include "app/window/MainUnt.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    silenceHarmlessQtWarnings();
    QApplication app(argc, argv);
    prepareApplication(app);

    TMainFrm MainFrm;
    showMainWindow(MainFrm);
    return app.exec();
}
