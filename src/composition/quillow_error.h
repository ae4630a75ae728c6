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
