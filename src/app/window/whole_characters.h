#pragma once

#include <QValidator>

// Keeps an edit's text free of half characters. The edit's length limit,
// counted in UTF-16 code units, cuts what is typed or pasted wherever the
// limit falls, also inside a character a reader sees as one (an emoji, a
// flag, a rare Han character). What such a cut leaves visibly broken goes:
// a high surrogate without its pair (wherever it is, whether the text was
// typed, pasted or set), and, when the text fills the limit, the character
// just before the cursor (where the cut falls) if it is a zero-width-joiner
// sequence ending in its joiner or half a flag. Everything else is accepted
// as it is.
class WholeCharactersValidator : public QValidator {
    Q_OBJECT
public:
    // `limit` is the edit's maximum length in code units.
    WholeCharactersValidator(int limit, QObject *parent) : QValidator(parent), m_limit(limit) {}

    State validate(QString &input, int &pos) const override;

private:
    int m_limit;
};
