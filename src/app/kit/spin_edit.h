#pragma once

#include <QSpinBox>

// A whole-number field with up/down arrows bounded by its minimum and
// maximum. What the program reads is the field's text, so an emptied field
// counts as 0 rather than as the last value the arrows showed.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    SpinEdit(const QString &objectName, int minimum, int maximum, QWidget *parent);

    // The field's number: 0 when empty or unreadable, else clamped to this
    // edit's own minimum and maximum.
    int fieldValue() const;

protected:
    void fixup(QString &input) const override;
};
