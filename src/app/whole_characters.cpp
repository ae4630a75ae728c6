#include "app/whole_characters.h"

QValidator::State WholeCharactersValidator::validate(QString &input, int &pos) const
{
    for (qsizetype i = input.size() - 1; i >= 0; --i) {
        const bool paired = i + 1 < input.size() && input.at(i + 1).isLowSurrogate();
        if (input.at(i).isHighSurrogate() && !paired) {
            input.remove(i, 1);
            if (pos > i)
                --pos;
        }
    }
    return Acceptable;
}
