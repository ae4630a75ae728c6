#pragma once

#include <QMimeData>
#include <QObject>
#include <QPoint>

#include <functional>
#include <memory>
#include <optional>

class QImage;
class QMenu;
class QWidget;

// The picture a drag of `data` shows under the cursor: its PNG (with its
// transparency) where it has one, else its image, at most 64 pixels high;
// null when it has neither.
QImage dragPicture(const QMimeData &data);

// The mouse on the output area, which takes no input of its own (its events
// reach the window): a right click opens `menu` there, and pressing the left
// button and moving past the drag distance drags out what `dragData` gives
// (nothing happens when it gives null). Watches `window`, whose child
// `outputArea` is.
class StripGestures : public QObject {
public:
    using DragData = std::function<std::unique_ptr<QMimeData>()>;

    StripGestures(QWidget *window, QWidget *outputArea, QMenu *menu, DragData dragData);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool onOutputArea(const QPoint &windowPos) const;

    QWidget *m_window;
    QWidget *m_outputArea;
    QMenu *m_menu;
    DragData m_dragData;
    std::optional<QPoint> m_pressedAt; // where a drag may start, window coordinates
};
