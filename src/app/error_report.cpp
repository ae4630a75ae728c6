#include "app/error_report.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

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
    return QString::fromUtf8(error.what());
}

void showErrorReport(QWidget *owner, const QString &text)
{
    QMessageBox box(QMessageBox::Critical,
                    QFileInfo(QCoreApplication::applicationFilePath()).fileName(), text,
                    QMessageBox::Ok, owner);
    // A path in the message may contain '<'; never let it be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void runGuarded(QWidget *owner, const ErrorReporter &report, const std::function<void()> &handler) noexcept
{
    QString text;
    try {
        handler();
        return;
    } catch (const SilentAbort &) {
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
