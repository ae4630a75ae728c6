#pragma once

#include <QString>

#include <stdexcept>

// The one exception type of the core. Its message is phrased for the user:
// the application's error report shows it as it stands, only adding a full
// stop when it does not already end in punctuation (see errorReportText()).
class QuillowError : public std::runtime_error {
public:
    explicit QuillowError(const QString &message) : std::runtime_error(message.toStdString()) {}

    QString message() const { return QString::fromUtf8(what()); }
};

// What the user reads when memory ran out (std::bad_alloc, thrown by the
// core and by Qt alike), in every front end.
inline QString outOfMemoryMessage()
{
    return QStringLiteral("内存不足，无法画出这张图片。");
}
