#pragma once

#include <QValidator>

// Keeps an edit's text free of half characters. A length limit counted in
// UTF-16 code units cuts a character outside the Basic Multilingual Plane
// (an emoji, a rare Han character) in two when only one unit is left; the
// high surrogate that would remain is dropped, whether the text was typed,
// pasted or set. Everything else is accepted as it is.
class WholeCharactersValidator : public QValidator {
    Q_OBJECT
public:
    explicit WholeCharactersValidator(QObject *parent) : QValidator(parent) {}

    State validate(QString &input, int &pos) const override;
};
