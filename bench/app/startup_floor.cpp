// The floor that the program's start-up is measured against: the least a Qt
// Widgets program does to show a window of the main window's size with
// Chinese text in it, so that both load a Chinese face. The label keeps the
// application's default font.

#include "startup_report.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1045, 506);
    QLabel label(QStringLiteral("友谊的小船说翻就翻"), &window);
    reportStartup(window, [](const std::function<void()> &done) { done(); });
    window.show();
    return app.exec();
}
