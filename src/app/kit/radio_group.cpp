#include "app/kit/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

namespace {
const char *const kValueProperty = "value";
}

RadioGroup::RadioGroup(const QString &objectName, const QString &caption, const QList<Item> &items,
                       int columns, QWidget *parent)
    : QGroupBox(caption, parent), m_group(new QButtonGroup(this))
{
    Q_ASSERT(columns > 0);
    setObjectName(objectName);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(5, 0, 2, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    // The items keep their own width and the room left over goes into equal
    // gaps between the columns: equal columns would leave two-character items
    // nearly touching in a narrow group while single characters float apart.
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items[i].caption, this);
        button->setProperty(kValueProperty, items[i].value);
        m_group->addButton(button, i);
        grid->addWidget(button, i / columns, 2 * (i % columns));
    }
    for (int gap = 1; gap < 2 * columns - 1; gap += 2)
        grid->setColumnStretch(gap, 1);
    setItemIndex(0);
}

QString RadioGroup::selectedValue() const
{
    const QAbstractButton *checked = m_group->checkedButton();
    return checked ? checked->property(kValueProperty).toString() : QString();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton *button = m_group->button(index))
        button->setChecked(true);
}

QList<QRadioButton *> RadioGroup::buttons() const
{
    QList<QRadioButton *> result;
    for (QAbstractButton *button : m_group->buttons())
        result.append(static_cast<QRadioButton *>(button));
    return result;
}
