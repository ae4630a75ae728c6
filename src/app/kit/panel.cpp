#include "app/kit/panel.h"

#include <QChildEvent>
#include <QPainter>

namespace {

void refuseInput(QWidget *widget)
{
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    widget->setFocusPolicy(Qt::NoFocus);
}

// Watches a transparent widget and, through itself, every widget below it:
// a new child is made transparent and watched in turn.
class InputRefuser : public QObject {
public:
    explicit InputRefuser(QWidget *root) : QObject(root) { cover(root); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::ChildAdded || type == QEvent::ChildPolished) {
            QObject *child = static_cast<QChildEvent *>(event)->child();
            // ChildAdded arrives from inside QWidget's constructor, where the
            // object already is a widget but not yet the derived class.
            if (child && child->isWidgetType())
                cover(static_cast<QWidget *>(child));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void cover(QWidget *widget)
    {
        refuseInput(widget);
        widget->installEventFilter(this);
        const auto children = widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (QWidget *child : children)
            cover(child);
    }
};

} // namespace

Panel::Panel(const QString &objectName, QWidget *parent) : QFrame(parent)
{
    setObjectName(objectName);
    setFrameShape(QFrame::NoFrame);
}

DockLayout *Panel::dock()
{
    if (!m_dock) {
        m_dock = new DockLayout(this);
        m_dock->setContentsMargins(m_innerMargin, m_innerMargin, m_innerMargin, m_innerMargin);
    }
    return m_dock;
}

void Panel::setInnerMargin(int margin)
{
    m_innerMargin = margin;
    if (m_dock)
        m_dock->setContentsMargins(margin, margin, margin, margin);
    update();
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
    const QRect box = contentsRect().marginsRemoved(QMargins(m_innerMargin, 0, 0, 0));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_caption);
}

void makeInputTransparent(QWidget *widget)
{
    new InputRefuser(widget);
}
