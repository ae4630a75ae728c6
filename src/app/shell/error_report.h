#pragma once

#include <QString>

#include <exception>
#include <functional>

class QWidget;

// The message the user reads: `message` with a full stop appended when its
// last UTF-16 code unit lies above '.' (46), so a sentence that already ends
// in punctuation such as '.', '-', ',' or '!' is left alone; nor is one
// ending in '?' or in the Chinese sentence ends '。', '！' and '？'.
QString errorReportText(const QString &message);

// The message of the innermost exception nested in `error`
// (std::nested_exception), or of `error` itself.
QString innermostMessage(const std::exception &error);

// Shows `text` to the user; the default shows a modal message box.
using ErrorReporter = std::function<void(QWidget *owner, const QString &text)>;

// The application's error report: a message box with the error icon and an
// OK button, titled with the executable's file name, showing `text` as given.
void showErrorReport(QWidget *owner, const QString &text);

// Runs `handler` and keeps every exception from unwinding into Qt's event
// loop: every exception is handed to `report` with its innermost message
// made into the report text.
void runGuarded(QWidget *owner, const ErrorReporter &report, const std::function<void()> &handler) noexcept;
