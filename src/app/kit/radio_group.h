#pragma once

#include <QGroupBox>
#include <QList>
#include <QString>

class QButtonGroup;
class QRadioButton;

// A captioned group of radio items laid out in columns, each item carrying
// a value string. Exactly one item is selected once any is.
class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    struct Item {
        QString caption;
        QString value;
    };

    // Builds the items in order; the first is selected. `columns` > 0.
    RadioGroup(const QString &objectName, const QString &caption, const QList<Item> &items, int columns,
               QWidget *parent);

    // The selected item's value string; empty when none is selected.
    QString selectedValue() const;
    void setItemIndex(int index);

    QList<QRadioButton *> buttons() const;

private:
    QButtonGroup *m_group;
};
