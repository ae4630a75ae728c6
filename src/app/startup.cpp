#include "app/startup.h"

#include "app/app_icon.h"
#include "app/chinese_ui.h"

#include <QApplication>

void prepareApplication(QApplication &app)
{
    QApplication::setApplicationName(QStringLiteral("Quillow"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillow"));
    QApplication::setWindowIcon(appIcon());
    installChineseUi(app);
}
