#include "app/kit/group_look.h"

#include "app/kit/shared_style.h"

#include <QGroupBox>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>

#include <cmath>

namespace {

constexpr int kCaptionIndent = 8;  // from the frame's left end to the caption
constexpr int kCaptionPadding = 3; // clear line on either side of the caption
constexpr int kNestedGap = 4;      // left of a group inside another group
constexpr int kCornerRadius = 3;
// A corner's stroke stays within this many pixels of the frame's ends.
constexpr int kCornerSquare = kCornerRadius + 2;

// The frame's one-pixel line on the pixel centres just inside `frame`, with
// antialiased corners of radius kCornerRadius. An antialiased stroke costs in
// proportion to the area it goes round (a fifth of a millisecond for the
// settings group, on the way to the window's first paint), but only the
// corners need one. Where every pixel is a whole number of device pixels, the
// straight sides are plain fills and each corner is stroked on its own, as
// the corner of a small rounded rectangle at the same place, clipped to its
// square: pixel for pixel the whole stroke.
void drawFrame(QPainter &painter, const QRect &frame, const QColor &colour)
{
    const QTransform device = painter.deviceTransform();
    const auto whole = [](qreal value) { return value == std::round(value); };
    const bool wholePixels = device.type() <= QTransform::TxScale && device.m11() == device.m22() &&
                             whole(device.m11()) && whole(device.dx()) && whole(device.dy());
    const auto strokeRounded = [&painter, &colour](const QRect &box) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(colour);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
        painter.restore();
    };
    if (!wholePixels || frame.width() < 2 * kCornerSquare || frame.height() < 2 * kCornerSquare) {
        strokeRounded(frame);
        return;
    }

    const int across = frame.width() - 2 * kCornerSquare;
    const int down = frame.height() - 2 * kCornerSquare;
    painter.fillRect(frame.left() + kCornerSquare, frame.top(), across, 1, colour);
    painter.fillRect(frame.left() + kCornerSquare, frame.bottom(), across, 1, colour);
    painter.fillRect(frame.left(), frame.top() + kCornerSquare, 1, down, colour);
    painter.fillRect(frame.right(), frame.top() + kCornerSquare, 1, down, colour);
    const int small = 2 * kCornerSquare;
    for (const bool right : {false, true})
        for (const bool bottom : {false, true}) {
            const QRect square(right ? frame.right() - kCornerSquare + 1 : frame.left(),
                               bottom ? frame.bottom() - kCornerSquare + 1 : frame.top(), kCornerSquare,
                               kCornerSquare);
            const QRect corner(right ? frame.right() - small + 1 : frame.left(),
                               bottom ? frame.bottom() - small + 1 : frame.top(), small, small);
            painter.save();
            painter.setClipRect(square, Qt::IntersectClip);
            strokeRounded(corner);
            painter.restore();
        }
}

// Draws group boxes as the application style would, except for where the
// frame and the caption go. Set on the group boxes only; applies to nothing
// else.
class FramedCaptionStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override
    {
        const auto *group = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !group || (group->subControls & SC_GroupBoxCheckBox))
            return QProxyStyle::subControlRect(control, option, part, widget);
        const int captionHeight = group->fontMetrics.height();
        const QRect frame = group->rect.adjusted(gapLeftOf(widget), captionHeight / 2, 0, 0);
        switch (part) {
        case SC_GroupBoxFrame:
            return frame;
        case SC_GroupBoxLabel:
            return QRect(frame.left() + kCaptionIndent, group->rect.top(),
                         group->fontMetrics.horizontalAdvance(group->text) + 2 * kCaptionPadding,
                         captionHeight);
        case SC_GroupBoxContents:
            return QRect(frame.left() + 1, group->rect.top() + captionHeight, frame.width() - 2,
                         frame.bottom() - (group->rect.top() + captionHeight));
        default:
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        const auto *group = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !group || (group->subControls & SC_GroupBoxCheckBox)) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
        const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
        drawFrame(*painter, frame, group->palette.color(QPalette::Mid));
        if (!group->text.isEmpty()) {
            painter->fillRect(caption, group->palette.window());
            proxy()->drawItemText(painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, group->palette,
                                  group->state & State_Enabled, group->text, QPalette::WindowText);
        }
    }

private:
    static int gapLeftOf(const QWidget *widget)
    {
        for (const QWidget *up = widget ? widget->parentWidget() : nullptr; up; up = up->parentWidget())
            if (qobject_cast<const QGroupBox *>(up))
                return kNestedGap;
        return 0;
    }
};

} // namespace

void setCaptionsIntoFrames(QGroupBox *group)
{
    QStyle *const shared = sharedStyle<FramedCaptionStyle>();
    group->setStyle(shared);
    const auto inner = group->findChildren<QGroupBox *>();
    for (QGroupBox *child : inner)
        child->setStyle(shared);
}
