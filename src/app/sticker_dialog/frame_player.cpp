#include "app/sticker_dialog/frame_player.h"

#include <QPainter>
#include <QPen>
#include <QTimer>

#include <algorithm>

namespace {

// Viewers show a frame for at least about this long, whatever its delay says.
constexpr int kShortestFrameMs = 20;
constexpr int kCheckerSquare = 8;
const QColor kLightGround(0xFF, 0xFF, 0xFF);
const QColor kDarkGround(0x1E, 0x1E, 0x1E);
constexpr QSize kPreferredSize{520, 300};
// Room left around a sticker that fills the preview, so its edge shows.
constexpr int kMargin = 8;

QBrush checkerboard()
{
    QPixmap tile(2 * kCheckerSquare, 2 * kCheckerSquare);
    tile.fill(QColor(0xCC, 0xCC, 0xCC));
    QPainter painter(&tile);
    const QColor light(0xFF, 0xFF, 0xFF);
    painter.fillRect(0, 0, kCheckerSquare, kCheckerSquare, light);
    painter.fillRect(kCheckerSquare, kCheckerSquare, kCheckerSquare, kCheckerSquare, light);
    return QBrush(tile);
}

} // namespace

FramePlayer::FramePlayer(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, [this] { showFrame((m_current + 1) % frameCount()); });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize FramePlayer::sizeHint() const
{
    const QSize natural = m_animation.frames.empty() ? m_expected : m_animation.frames.front().image.size();
    return kPreferredSize.expandedTo(natural + QSize(2 * kMargin, 2 * kMargin));
}

void FramePlayer::setExpectedSize(QSize size)
{
    m_expected = size;
    updateGeometry();
}

QSize FramePlayer::minimumSizeHint() const
{
    return kPreferredSize / 2;
}

void FramePlayer::showMaking(QSize box)
{
    setExpectedSize(box);
    setAnimation(Animation());
    m_making = true;
    update();
}

void FramePlayer::setAnimation(const Animation &animation)
{
    m_making = false;
    const QSize before = sizeHint();
    m_animation = animation;
    if (sizeHint() != before)
        updateGeometry();
    prepareFrames();
    showFrame(0);
}

void FramePlayer::setGround(PreviewGround ground)
{
    m_ground = ground;
    update();
}

void FramePlayer::prepareFrames()
{
    m_timer->stop();
    m_frames.clear();
    m_delays.clear();
    const qreal oldScale = m_scale;
    m_scale = 1;
    if (!m_animation.frames.empty()) {
        const QSize natural = m_animation.frames.front().image.size();
        const QSize room = (size() - QSize(2 * kMargin, 2 * kMargin)).expandedTo(QSize(1, 1));
        if (natural.width() > room.width() || natural.height() > room.height())
            m_scale =
                std::min(qreal(room.width()) / natural.width(), qreal(room.height()) / natural.height());
        const qreal ratio = devicePixelRatioF();
        for (std::size_t i = 0; i < m_animation.frames.size(); ++i) {
            const AnimationFrame &frame = m_animation.frames[i];
            m_delays.push_back(std::max(frame.delayMs, kShortestFrameMs));
            // A video holds a picture by repeating its frame (decoded once,
            // shared): one pixmap serves them all, scaled once.
            if (i > 0 && frame.image.cacheKey() == m_animation.frames[i - 1].image.cacheKey()) {
                m_frames.push_back(m_frames.back());
                continue;
            }
            QImage image = frame.image;
            // Scaled once here to the device pixels it is shown at, so that
            // painting is a plain copy.
            const QSize shown = (QSizeF(natural) * m_scale * ratio).toSize().expandedTo(QSize(1, 1));
            if (shown != natural)
                image = image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QPixmap pixmap = QPixmap::fromImage(image);
            pixmap.setDevicePixelRatio(ratio);
            m_frames.push_back(pixmap);
        }
    }
    if (!qFuzzyCompare(oldScale, m_scale))
        emit scaleChanged(m_scale);
}

void FramePlayer::showFrame(int index)
{
    m_current = m_frames.empty() ? 0 : index;
    update();
    if (m_frames.size() > 1 && isVisible())
        m_timer->start(m_delays[std::size_t(m_current)]);
}

void FramePlayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    switch (m_ground) {
    case PreviewGround::Light:
        painter.fillRect(rect(), kLightGround);
        break;
    case PreviewGround::Dark:
        painter.fillRect(rect(), kDarkGround);
        break;
    case PreviewGround::Checkerboard:
        painter.fillRect(rect(), checkerboard());
        break;
    }
    if (m_making) {
        const QSize box = m_expected.boundedTo(size() - QSize(2, 2));
        const QRect outline =
            QRect(QPoint(0, 0), box).translated(rect().center() - QRect(QPoint(0, 0), box).center());
        painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DashLine));
        painter.drawRect(outline.adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(outline, Qt::AlignCenter, QStringLiteral("正在生成…"));
    }
    if (m_frames.empty())
        return;
    const QPixmap &frame = m_frames[std::size_t(m_current)];
    const QSize shown = (QSizeF(frame.size()) / frame.devicePixelRatio()).toSize();
    painter.drawPixmap(
        QRect(QPoint(0, 0), shown).translated(rect().center() - QRect(QPoint(0, 0), shown).center()), frame);
}

void FramePlayer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_animation.frames.empty()) {
        const int current = m_current;
        prepareFrames();
        showFrame(std::min(current, frameCount() - 1));
    }
}

void FramePlayer::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    showFrame(m_current);
}

void FramePlayer::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}
