#include "app/kit/dock_layout.h"

#include <QWidget>

#include <algorithm>

DockLayout::DockLayout(QWidget *parent) : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

DockLayout::~DockLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void DockLayout::addDocked(QWidget *widget, Dock side, int extent)
{
    addChildWidget(widget);
    m_entries.append({new QWidgetItem(widget), side, extent});
    invalidate();
}

void DockLayout::addItem(QLayoutItem *item)
{
    m_entries.append({item, Dock::Fill, -1});
    invalidate();
}

QLayoutItem *DockLayout::itemAt(int index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries[index].item : nullptr;
}

QLayoutItem *DockLayout::takeAt(int index)
{
    if (index < 0 || index >= m_entries.size())
        return nullptr;
    QLayoutItem *item = m_entries.takeAt(index).item;
    invalidate();
    return item;
}

int DockLayout::count() const
{
    return int(m_entries.size());
}

int DockLayout::extentOf(const Entry &entry) const
{
    if (entry.extent >= 0)
        return entry.extent;
    const QSize hint = entry.item->sizeHint();
    return entry.side == Dock::Left || entry.side == Dock::Right ? hint.width() : hint.height();
}

// Walks the docks from the innermost outwards: what a child docked on a side
// needs is its own extent on that axis plus what the later children need.
QSize DockLayout::required(bool minimum) const
{
    QSize need(0, 0);
    for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
        if (it->item->isEmpty())
            continue;
        const int extent = extentOf(*it);
        switch (it->side) {
        case Dock::Top:
        case Dock::Bottom:
            need = QSize(need.width(), need.height() + extent);
            break;
        case Dock::Left:
        case Dock::Right:
            need = QSize(need.width() + extent, need.height());
            break;
        case Dock::Fill: {
            const QSize own = minimum ? it->item->minimumSize() : it->item->sizeHint();
            need = need.expandedTo(own);
            break;
        }
        }
    }
    const QMargins margins = contentsMargins();
    return need.grownBy(margins);
}

QSize DockLayout::sizeHint() const
{
    return required(false);
}

QSize DockLayout::minimumSize() const
{
    return required(true);
}

void DockLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    QRect rest = rect.marginsRemoved(contentsMargins());
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.item->isEmpty())
            continue;
        const int extent = extentOf(entry);
        QRect cell;
        switch (entry.side) {
        case Dock::Top: {
            const int h = std::min(extent, std::max(rest.height(), 0));
            cell = QRect(rest.left(), rest.top(), rest.width(), h);
            rest.setTop(rest.top() + h);
            break;
        }
        case Dock::Bottom: {
            const int h = std::min(extent, std::max(rest.height(), 0));
            cell = QRect(rest.left(), rest.bottom() + 1 - h, rest.width(), h);
            rest.setBottom(rest.bottom() - h);
            break;
        }
        case Dock::Left: {
            const int w = std::min(extent, std::max(rest.width(), 0));
            cell = QRect(rest.left(), rest.top(), w, rest.height());
            rest.setLeft(rest.left() + w);
            break;
        }
        case Dock::Right: {
            const int w = std::min(extent, std::max(rest.width(), 0));
            cell = QRect(rest.right() + 1 - w, rest.top(), w, rest.height());
            rest.setRight(rest.right() - w);
            break;
        }
        case Dock::Fill:
            cell = rest;
            break;
        }
        // Bypass the item's own size constraints: a docked child takes
        // exactly its strip, like a panel in a form designer.
        if (QWidget *widget = entry.item->widget())
            widget->setGeometry(cell);
        else
            entry.item->setGeometry(cell);
    }
}
