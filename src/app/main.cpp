#include "app/MainUnt.h"
#include "app/app_icon.h"
#include "app/chinese_ui.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillow"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillow"));
    QApplication::setWindowIcon(appIcon());
    installChineseUi(app);

    TMainFrm MainFrm;
    MainFrm.show();
    return app.exec();
}
