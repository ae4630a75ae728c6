#include "app/group_look.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>

namespace {

constexpr int kCaptionIndent = 8;  // from the frame's left end to the caption
constexpr int kCaptionPadding = 3; // clear line on either side of the caption
constexpr int kNestedGap = 4;      // left of a group inside another group

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
                         group->fontMetrics.horizontalAdvance(group->text) + 2 * kCaptionPadding, captionHeight);
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
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(group->palette.color(QPalette::Mid));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        painter->restore();
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
    // One for the application, owned by it: a style must outlive every
    // widget that uses it, and a group's children go before the group.
    static QPointer<FramedCaptionStyle> shared;
    if (!shared) {
        shared = new FramedCaptionStyle;
        shared->setParent(QCoreApplication::instance());
    }
    group->setStyle(shared);
    const auto inner = group->findChildren<QGroupBox *>();
    for (QGroupBox *child : inner)
        child->setStyle(shared);
}
