#pragma once

#include <QString>

#include <stdexcept>

// The one exception type of the core. Its message is exactly what the user
// reads in the application's error report, so it is phrased for the user.
class QuillowError : public std::runtime_error {
public:
    explicit QuillowError(const QString &message)
        : std::runtime_error(message.toStdString()) {}

    QString message() const { return QString::fromUtf8(what()); }
};
