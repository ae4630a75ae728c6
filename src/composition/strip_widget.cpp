#include "composition/strip_widget.h"

#include <QPainter>
#include <QPalette>

#include <algorithm>

Qt::Alignment alignmentFlags(HorzAlign horz, VertAlign vert)
{
    Qt::Alignment flags;
    switch (horz) {
    case HorzAlign::Centre: flags |= Qt::AlignHCenter; break;
    case HorzAlign::Right: flags |= Qt::AlignRight; break;
    default: flags |= Qt::AlignLeft; break;
    }
    switch (vert) {
    case VertAlign::Middle: flags |= Qt::AlignVCenter; break;
    case VertAlign::Bottom: flags |= Qt::AlignBottom; break;
    default: flags |= Qt::AlignTop; break;
    }
    return flags;
}

void paintWhiteGround(QWidget &area)
{
    QPalette palette = area.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Window, Qt::white);
    area.setPalette(palette);
    area.setAutoFillBackground(true);
}

StripCell::StripCell(const Cell &cell, const StripSettings &settings, QWidget *parent)
    : QWidget(parent),
      m_cell(cell),
      m_font(cellFont(settings, cell)),
      m_horzAlign(settings.horzAlign),
      m_vertAlign(settings.vertAlign)
{
    setObjectName(QStringLiteral("cell%1").arg(cell.index));
    setGeometry(cell.x, 0, cell.width, cell.height);
    setFixedSize(cell.width, cell.height);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StripCell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // A glyph that overhangs its cell (an italic slant, an oversize glyph) is
    // cut at the cell's edge rather than bleeding into its neighbour.
    painter.setClipRect(rect());
    painter.setFont(fontFor(m_font));
    // The Active group on purpose: the strip must keep its colours even if
    // an ancestor is ever disabled.
    const QColor colour = m_cell.colour ? toQColor(*m_cell.colour)
                                        : palette().color(QPalette::Active, QPalette::WindowText);
    painter.setPen(colour);
    const QRect textBox = rect().adjusted(kCellFrame, kCellFrame, -kCellFrame, -kCellFrame);
    painter.drawText(textBox, int(alignmentFlags(m_horzAlign, m_vertAlign)) | Qt::TextSingleLine,
                     QString(m_cell.character));
}

StripContainer::StripContainer(const StripLayout &layout, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("strip"));
    paintWhiteGround(*this);
    setGeometry(0, 0, layout.width, layout.height);
    // A picture, never a control: clicks and focus go past it.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Cells are made in the walk order, last character first, as the random
    // colours were drawn; each takes its place from the layout.
    for (auto cell = layout.cells.rbegin(); cell != layout.cells.rend(); ++cell)
        new StripCell(*cell, layout.settings, this);
}

QList<StripCell *> StripContainer::cells() const
{
    QList<StripCell *> cells = findChildren<StripCell *>(Qt::FindDirectChildrenOnly);
    std::sort(cells.begin(), cells.end(),
              [](const StripCell *a, const StripCell *b) { return a->cell().index < b->cell().index; });
    return cells;
}
