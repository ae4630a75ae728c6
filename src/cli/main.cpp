#include "cli/render_command.h"

#include <QFile>
#include <QGuiApplication>

int main(int argc, char *argv[])
{
    // Fonts and painting need a GUI application, but never a screen: the
    // command runs on servers and in chat bots.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("quillow-render"));

    QFile input;
    QFile output;
    QFile errors;
    input.open(stdin, QIODevice::ReadOnly);
    output.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    errors.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return runRenderCommand(QCoreApplication::arguments(), input, output, errors);
}
