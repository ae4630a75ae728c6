#include "app/MainUnt.h"
#include "app/startup.h"

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
