#include "app/shell/error_report.h"

#include "composition/quillow_error.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Room a message box needs beside its text: the icon and the margins.
constexpr int kBoxChrome = 120;

// QMessageBox wraps a message wider than half the screen (at most 500
// pixels) at that width, which can leave a single character on the last
// line ("不存/在."). Instead the text gets the width that holds it on one
// line, or spreads it over as few lines of about equal width as it needs,
// within the widest box QMessageBox makes on this screen.
void fitMessageWidth(QMessageBox &box, const QString &text)
{
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QScreen *screen = box.screen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const int qtWrapWidth = std::min(screenWidth / 2, 500);
    const int qtWidest = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
    const int room = std::max(qtWrapWidth + 1, std::min(qtWrapWidth * 8 / 5, qtWidest - kBoxChrome));

    const QFontMetrics metrics(label->font());
    // Slack for where a line may break: a word or a character that does not
    // fit moves whole onto the next line.
    const int slack = 2 * metrics.horizontalAdvance(QStringLiteral("中"));
    const int textWidth =
        metrics.boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), Qt::TextExpandTabs, text).width();
    if (textWidth + slack <= qtWrapWidth)
        return;
    const int lines = int(std::ceil(double(textWidth + slack) / room));
    // At least Qt's own wrapping width, or QMessageBox would not wrap at all.
    const int width = int(std::ceil(double(textWidth) / lines)) + slack;
    label->setMinimumWidth(std::clamp(width, qtWrapWidth + 1, room));
}

} // namespace

QString errorReportText(const QString &message)
{
    if (message.isEmpty())
        return message;
    // Chinese messages end in their own full stop; a second one after it
    // would read "。.".
    static const QString kSentenceEnds = QStringLiteral(".。！？!?");
    const QChar last = message.back();
    if (last.unicode() > u'.' && !kSentenceEnds.contains(last))
        return message + QLatin1Char('.');
    return message;
}

QString innermostMessage(const std::exception &error)
{
    try {
        std::rethrow_if_nested(error);
    } catch (const std::exception &inner) {
        return innermostMessage(inner);
    } catch (...) {
    }
    if (dynamic_cast<const std::bad_alloc *>(&error))
        return outOfMemoryMessage();
    return QString::fromUtf8(error.what());
}

void showErrorReport(QWidget *owner, const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                    text, QMessageBox::Ok, owner);
    // A path in the message may contain '<'; never let it be read as markup.
    box.setTextFormat(Qt::PlainText);
    fitMessageWidth(box, text);
    box.exec();
}

void runGuarded(QWidget *owner, const ErrorReporter &report, const std::function<void()> &handler) noexcept
{
    QString text;
    try {
        handler();
        return;
    } catch (const std::exception &error) {
        text = errorReportText(innermostMessage(error));
    } catch (...) {
        text = errorReportText(QStringLiteral("未知错误"));
    }
    // Reporting happens outside the catch blocks, so a failure while showing
    // the box cannot rethrow into the handler's frame; and it must not escape
    // either, since the caller is Qt.
    try {
        (report ? report : ErrorReporter(showErrorReport))(owner, text);
    } catch (...) {
    }
}
