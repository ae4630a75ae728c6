#include "cli/render_command.h"

#include <QFile>
#include <QGuiApplication>

namespace {

QtMessageHandler defaultHandler = nullptr;

// Without a desktop session (a service, a container, a cron job) Qt warns at
// start-up that XDG_RUNTIME_DIR is unset and goes on with a folder of its
// own. The command needs no runtime folder, and a caller reading its errors
// should see only the command's own messages.
void quietAboutRuntimeFolder(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    defaultHandler = qInstallMessageHandler(quietAboutRuntimeFolder);
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
