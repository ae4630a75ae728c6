#pragma once

#include "composition/strip_layout.h"

#include <QImage>
#include <QWidget>

// One character of the strip: a fixed-size, transparent cell at the cell's
// bounds that carries the cell and its font request. It paints nothing
// itself: the container paints the whole strip at once, so that the screen
// and the saved picture are the same pixels.
class StripCell : public QWidget {
    Q_OBJECT
public:
    StripCell(const Cell &cell, const StripSettings &settings, QWidget *parent);

    const Cell &cell() const { return m_cell; }
    const FontRequest &fontRequest() const { return m_font; }

private:
    Cell m_cell;
    FontRequest m_font;
};

// The strip: a white, borderless container at 0, 0 with the strip's size,
// holding one StripCell per cell. It shows the strip rendered by
// renderStrip() on a white ground in `ink`, rendered once at the device pixel ratio it
// is painted at (again only if that ratio changes, as when the window moves
// to another screen), so every paint, on screen or into a capture, shows the
// very same pixels. Neither takes mouse input or focus. The parent owns it;
// deleting it deletes the cells.
class StripContainer : public QWidget {
    Q_OBJECT
public:
    StripContainer(const StripLayout &layout, const QColor &ink, QWidget *parent);

    const StripLayout &layout() const { return m_layout; }
    const QColor &ink() const { return m_ink; }
    QList<StripCell *> cells() const; // left to right

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
