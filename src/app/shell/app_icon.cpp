#include "app/shell/app_icon.h"

#include <QCoreApplication>
#include <QDir>

namespace {

bool runsInstalled()
{
    const QString installed = QDir(QStringLiteral(QUILLOW_INSTALL_BINDIR)).canonicalPath();
    return !installed.isEmpty() && QDir(QCoreApplication::applicationDirPath()).canonicalPath() == installed;
}

} // namespace

QIcon appIcon()
{
    const QIcon bundled(QStringLiteral(":/quillow/quillow.svg"));
    return runsInstalled() ? QIcon::fromTheme(QStringLiteral("quillow"), bundled) : bundled;
}
