#include "app/kit/spin_edit.h"

#include "composition/strip_settings.h"

#include <QLineEdit>

SpinEdit::SpinEdit(const QString &objectName, int minimum, int maximum, QWidget *parent) : QSpinBox(parent)
{
    setObjectName(objectName);
    setRange(minimum, maximum);
    setValue(minimum);
    setAccelerated(true);
}

int SpinEdit::fieldValue() const
{
    return wholeNumberFromField(lineEdit()->text(), minimum(), maximum());
}

// Leaving an emptied field shows the 0 it stands for instead of springing
// back to the previous value.
void SpinEdit::fixup(QString &input) const
{
    if (input.trimmed().isEmpty())
        input = locale().toString(minimum());
    else
        QSpinBox::fixup(input);
}
