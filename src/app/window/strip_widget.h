#pragma once

#include "composition/strip_layout.h"

#include <QImage>
#include <QWidget>

// The strip: a white, borderless container at 0, 0 with the strip's size.
// It shows the strip rendered by renderStrip() on a white ground in `ink`,
// rendered once at the device pixel ratio it is painted at (again only if
// that ratio changes, as when the window moves to another screen), so every
// paint, on screen or into a capture, shows the very same pixels. It takes
// neither mouse input nor focus. The parent owns it.
class StripView : public QWidget {
    Q_OBJECT
public:
    StripView(const StripLayout &layout, const QColor &ink, QWidget *parent);

    const StripLayout &layout() const { return m_layout; }
    const QColor &ink() const { return m_ink; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    StripLayout m_layout;
    QColor m_ink;
    QImage m_picture;
};

// Gives `area` a white palette ground that Qt fills before the widget paints,
// as the output area and the container have: it paints nothing itself.
void setWhiteGround(QWidget &area);
