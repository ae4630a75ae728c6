#include "app/panel.h"

#include <QPainter>

Panel::Panel(const QString &objectName, QWidget *parent) : QFrame(parent)
{
    setObjectName(objectName);
    setFrameShape(QFrame::NoFrame);
}

DockLayout *Panel::dock(int innerMargin)
{
    if (!m_dock)
        m_dock = new DockLayout(this);
    m_dock->setContentsMargins(innerMargin, innerMargin, innerMargin, innerMargin);
    return m_dock;
}

void Panel::setCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void Panel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter painter(this);
    const QMargins margins = m_dock ? m_dock->contentsMargins() : QMargins();
    const QRect box = contentsRect().marginsRemoved(QMargins(margins.left(), 0, 0, 0));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_caption);
}

void makeInputTransparent(QWidget *widget)
{
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    widget->setFocusPolicy(Qt::NoFocus);
    const auto children = widget->findChildren<QWidget *>();
    for (QWidget *child : children) {
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
        child->setFocusPolicy(Qt::NoFocus);
    }
}
