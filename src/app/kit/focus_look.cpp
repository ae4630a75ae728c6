#include "app/kit/focus_look.h"

#include "app/kit/shared_style.h"

#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOption>

namespace {

class FocusFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    // The application style draws the button whole and marks the focus its
    // own faint way; the frame goes on top, inside the button's edge.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element != CE_PushButton || !(option->state & State_HasFocus))
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(QPen(option->palette.color(QPalette::WindowText), 0, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(kInset, kInset, -kInset - 1, -kInset - 1));
        painter->restore();
    }

private:
    // Clear of the button's rounded edge, clear of the caption.
    static constexpr int kInset = 3;
};

} // namespace

void showFocusFrame(QPushButton *button)
{
    button->setStyle(sharedStyle<FocusFrameStyle>());
}
