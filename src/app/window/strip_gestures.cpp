#include "app/window/strip_gestures.h"

#include "export/clipboard_picture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QWidget>

namespace {

// A drag image no taller than this, so it does not hide where it goes.
constexpr int kDragImageHeight = 64;

} // namespace

QImage dragPicture(const QMimeData &data)
{
    // The PNG keeps the alpha; the plain image is the strip on white, which
    // would follow the cursor as a white box.
    QImage picture = QImage::fromData(data.data(kPngMimeType), "PNG");
    if (picture.isNull() && data.hasImage())
        picture = qvariant_cast<QImage>(data.imageData());
    if (picture.isNull())
        return picture;
    return picture.scaledToHeight(std::min(picture.height(), kDragImageHeight), Qt::SmoothTransformation);
}

StripGestures::StripGestures(QWidget *window, QWidget *outputArea, QMenu *menu, DragData dragData)
    : QObject(window), m_window(window), m_outputArea(outputArea), m_menu(menu),
      m_dragData(std::move(dragData))
{
    window->installEventFilter(this);
}

bool StripGestures::onOutputArea(const QPoint &windowPos) const
{
    const QPoint local = m_outputArea->mapFrom(m_window, windowPos);
    return m_outputArea->isVisible() && m_outputArea->rect().contains(local);
}

bool StripGestures::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ContextMenu: {
        auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        // From the keyboard (the menu key) the menu opens on the strip, wherever
        // the pointer is.
        const bool keyboard = menuEvent->reason() == QContextMenuEvent::Keyboard;
        if (!keyboard && !onOutputArea(menuEvent->pos()))
            break;
        const QPoint at =
            keyboard ? m_outputArea->mapToGlobal(m_outputArea->rect().center()) : menuEvent->globalPos();
        m_menu->popup(at);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto *press = static_cast<QMouseEvent *>(event);
        m_pressedAt.reset();
        if (press->button() == Qt::LeftButton && onOutputArea(press->position().toPoint()))
            m_pressedAt = press->position().toPoint();
        break;
    }
    case QEvent::MouseButtonRelease:
        m_pressedAt.reset();
        break;
    case QEvent::MouseMove: {
        auto *move = static_cast<QMouseEvent *>(event);
        if (!m_pressedAt || !(move->buttons() & Qt::LeftButton) ||
            (move->position().toPoint() - *m_pressedAt).manhattanLength() < QApplication::startDragDistance())
            break;
        m_pressedAt.reset();
        std::unique_ptr<QMimeData> data = m_dragData();
        if (!data)
            break;
        auto *drag = new QDrag(m_window);
        if (const QImage picture = dragPicture(*data); !picture.isNull())
            drag->setPixmap(QPixmap::fromImage(picture));
        drag->setMimeData(data.release());
        drag->exec(Qt::CopyAction);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
