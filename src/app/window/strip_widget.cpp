#include "app/window/strip_widget.h"

#include "composition/strip_rendering.h"

#include <QPainter>
#include <QPalette>

void setWhiteGround(QWidget &area)
{
    QPalette palette = area.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Window, Qt::white);
    area.setPalette(palette);
    area.setAutoFillBackground(true);
}

StripView::StripView(const StripLayout &layout, const QColor &ink, QWidget *parent)
    : QWidget(parent), m_layout(layout), m_ink(ink)
{
    setObjectName(QStringLiteral("strip"));
    setWhiteGround(*this);
    setGeometry(0, 0, layout.width, layout.height);
    // A picture, never a control: clicks and focus go past it.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StripView::paintEvent(QPaintEvent *)
{
    // Painting the characters afresh on every paint event would let Qt's
    // glyph cache and the paint offset inside the window nudge the glyphs by
    // fractions of a pixel between the screen and a capture; one finished
    // picture copied pixel for pixel cannot differ.
    const qreal ratio = devicePixelRatioF();
    if (m_picture.isNull() || m_picture.devicePixelRatio() != ratio)
        m_picture = renderStrip(m_layout, StripGround::White, m_ink, ratio);
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_picture);
}
