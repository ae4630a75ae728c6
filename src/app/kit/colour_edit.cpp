#include "app/kit/colour_edit.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kGalleryColumns = 8;
constexpr int kSwatchSize = 18;

QIcon swatchIcon(ColourValue colour)
{
    QPixmap pixmap(kSwatchSize - 4, kSwatchSize - 4);
    pixmap.fill(toQColor(colour));
    QPainter painter(&pixmap);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return QIcon(pixmap);
}

} // namespace

const QList<ColourValue> &ColourGallery::palette()
{
    // Five rows of eight: greys, then full, dark, light and pale hues.
    static const QList<ColourValue> colours = {
        colourValue(0, 0, 0),       colourValue(64, 64, 64),    colourValue(128, 128, 128),
        colourValue(160, 160, 164), colourValue(192, 192, 192), colourValue(220, 220, 220),
        colourValue(240, 240, 240), colourValue(255, 255, 255),

        colourValue(255, 0, 0),     colourValue(255, 128, 0),   colourValue(255, 255, 0),
        colourValue(0, 255, 0),     colourValue(0, 255, 255),   colourValue(0, 0, 255),
        colourValue(128, 0, 255),   colourValue(255, 0, 255),

        colourValue(128, 0, 0),     colourValue(128, 64, 0),    colourValue(128, 128, 0),
        colourValue(0, 128, 0),     colourValue(0, 128, 128),   colourValue(0, 0, 128),
        colourValue(64, 0, 128),    colourValue(128, 0, 128),

        colourValue(255, 128, 128), colourValue(255, 192, 128), colourValue(255, 255, 128),
        colourValue(128, 255, 128), colourValue(128, 255, 255), colourValue(128, 128, 255),
        colourValue(192, 128, 255), colourValue(255, 128, 255),

        colourValue(255, 224, 224), colourValue(255, 240, 208), colourValue(255, 255, 224),
        colourValue(224, 255, 224), colourValue(224, 255, 255), colourValue(224, 224, 255),
        colourValue(240, 224, 255), colourValue(255, 224, 255),
    };
    return colours;
}

ColourGallery::ColourGallery(QWidget *parent) : QFrame(parent, Qt::Popup)
{
    // A popup is a window of its own and would otherwise keep the
    // application's smaller Latin font beside the window's Chinese one.
    setAttribute(Qt::WA_WindowPropagation);
    setFrameShape(QFrame::StyledPanel);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);

    m_default = new QToolButton(this);
    m_default->setObjectName(QStringLiteral("defaultColour"));
    m_default->setText(QStringLiteral("默认颜色"));
    m_default->setAutoRaise(true);
    m_default->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(m_default);
    connect(m_default, &QToolButton::clicked, this, &ColourGallery::defaultPicked);

    auto *grid = new QGridLayout;
    grid->setSpacing(2);
    const QList<ColourValue> &colours = palette();
    for (int i = 0; i < colours.size(); ++i) {
        const ColourValue colour = colours[i];
        auto *swatch = new QToolButton(this);
        swatch->setAutoRaise(true);
        swatch->setIcon(swatchIcon(colour));
        swatch->setIconSize(QSize(kSwatchSize - 4, kSwatchSize - 4));
        swatch->setFixedSize(kSwatchSize + 4, kSwatchSize + 4);
        swatch->setProperty("colour", QVariant::fromValue(colour));
        swatch->setToolTip(toQColor(colour).name(QColor::HexRgb).toUpper());
        grid->addWidget(swatch, i / kGalleryColumns, i % kGalleryColumns);
        m_swatches.append(swatch);
        connect(swatch, &QToolButton::clicked, this, [this, colour] { emit colourPicked(colour); });
    }
    column->addLayout(grid);

    auto *more = new QToolButton(this);
    more->setObjectName(QStringLiteral("moreColours"));
    more->setText(QStringLiteral("更多颜色…"));
    more->setAutoRaise(true);
    more->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(more);
    connect(more, &QToolButton::clicked, this, &ColourGallery::moreRequested);
}

ColourEdit::ColourEdit(const QString &objectName, ColourValue defaultColour, QWidget *parent)
    : QWidget(parent), m_default(defaultColour)
{
    setObjectName(objectName);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setToolTip(toQColor(colour()).name(QColor::HexRgb).toUpper());
}

ColourGallery *ColourEdit::gallery()
{
    if (m_gallery)
        return m_gallery;
    m_gallery = new ColourGallery(this);
    connect(m_gallery, &ColourGallery::colourPicked, this, [this](ColourValue picked) {
        m_gallery->hide();
        setColour(picked);
    });
    connect(m_gallery, &ColourGallery::defaultPicked, this, [this] {
        m_gallery->hide();
        clear();
    });
    connect(m_gallery, &ColourGallery::moreRequested, this, [this] {
        m_gallery->hide();
        chooseMore();
    });
    return m_gallery;
}

void ColourEdit::setColour(ColourValue colour)
{
    const ColourValue before = this->colour();
    m_colour = colour & 0xFFFFFFu;
    shownColourWas(before);
}

void ColourEdit::clear()
{
    const ColourValue before = colour();
    m_colour.reset();
    shownColourWas(before);
}

void ColourEdit::shownColourWas(ColourValue before)
{
    setToolTip(toQColor(colour()).name(QColor::HexRgb).toUpper());
    update();
    if (colour() != before)
        emit colourChanged(colour());
}

void ColourEdit::showGallery()
{
    ColourGallery *gallery = this->gallery();
    gallery->adjustSize();
    QPoint at = mapToGlobal(QPoint(0, height()));
    if (const QScreen *screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        const QSize size = gallery->size();
        if (at.y() + size.height() > room.bottom())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - size.height());
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - size.width())));
    }
    gallery->move(at);
    gallery->show();
}

void ColourEdit::chooseMore()
{
    QColorDialog dialog(toQColor(colour()), this);
    dialog.setWindowTitle(QStringLiteral("选择颜色"));
    if (dialog.exec() == QDialog::Accepted && dialog.selectedColor().isValid())
        setColour(fromQColor(dialog.selectedColor()));
}

QSize ColourEdit::sizeHint() const
{
    QStyleOptionComboBox option;
    option.initFrom(this);
    const int h = fontMetrics().height() + 6;
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(60, h), this);
}

QSize ColourEdit::minimumSizeHint() const
{
    return sizeHint();
}

void ColourEdit::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    option.initFrom(this);
    option.editable = false;
    option.frame = true;
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // The grey frame and the colour inside it are two filled rectangles, one
    // inside the other: at a fractional or double scale both round their
    // edges the same way, so the colour never shows past the frame (an
    // outline drawn with a pen rounds differently from a fill).
    const QRect swatch = field.adjusted(2, 3, -2, -3);
    painter.fillRect(swatch, QColor(128, 128, 128));
    painter.fillRect(swatch.adjusted(1, 1, -1, -1), toQColor(colour()));
}

void ColourEdit::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        showGallery();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void ColourEdit::keyPressEvent(QKeyEvent *event)
{
    const bool opens = event->key() == Qt::Key_F4 || event->key() == Qt::Key_Space ||
                       (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier));
    if (opens) {
        showGallery();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
