#pragma once

#include "composition/strip_layout.h"

#include <QWidget>

// One character of the strip: a fixed-size, transparent text cell that paints
// its character clipped to its bounds, in its font, colour and alignment,
// inside the constant inner frame. It paints no ground of its own.
class StripCell : public QWidget {
    Q_OBJECT
public:
    StripCell(const Cell &cell, const StripSettings &settings, QWidget *parent);

    const Cell &cell() const { return m_cell; }
    const FontRequest &fontRequest() const { return m_font; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Cell m_cell;
    FontRequest m_font;
    HorzAlign m_horzAlign;
    VertAlign m_vertAlign;
};

// The strip: a white, borderless container at 0, 0 with the strip's size,
// holding one StripCell per cell. Neither takes mouse input or focus. The
// parent owns it; deleting it deletes the cells.
class StripContainer : public QWidget {
    Q_OBJECT
public:
    StripContainer(const StripLayout &layout, QWidget *parent);

    QList<StripCell *> cells() const; // left to right
};

// Qt's flags for the two alignments; a value outside 1..3 gives left / top.
Qt::Alignment alignmentFlags(HorzAlign horz, VertAlign vert);

// Makes `area` white and borderless, as the output area and the container
// are: an opaque white ground painted by Qt itself.
void paintWhiteGround(QWidget &area);
