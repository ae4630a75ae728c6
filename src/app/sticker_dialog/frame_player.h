#pragma once

#include "composition/animation.h"

#include <QPixmap>
#include <QWidget>

#include <vector>

class QTimer;

// What the sticker preview is shown on.
enum class PreviewGround { Light, Dark, Checkerboard };

// Plays an animation at its true size, one sticker pixel per logical pixel,
// on a chosen ground. Frames are turned into pixmaps once, when they are
// given; playing only steps a single-shot timer from one prepared pixmap to
// the next, so a playing sticker costs one repaint per frame and never more
// than one core. An animation larger than the widget is scaled down, once,
// to fit (scaleShown() says by how much); sizeHint() asks for room to show it
// whole. It plays only while visible.
class FramePlayer : public QWidget {
    Q_OBJECT
public:
    explicit FramePlayer(QWidget *parent = nullptr);

    // Shows `animation` from its first frame; an empty one clears the player.
    void setAnimation(const Animation &animation);
    // Clears the player and shows, until the next setAnimation(), the
    // outline of a sticker of `box` pixels with a note that it is being
    // made: the old sticker never plays under the new choices.
    void showMaking(QSize box);
    bool isShowingMaking() const { return m_making; }
    // The animation it plays, as given.
    const Animation &animation() const { return m_animation; }
    // The size of the frames expected before the first animation arrives,
    // for sizeHint().
    void setExpectedSize(QSize size);
    void setGround(PreviewGround ground);
    PreviewGround ground() const { return m_ground; }

    int frameCount() const { return int(m_frames.size()); }
    int currentFrame() const { return m_current; }
    // The frames' size as shown over their true size: 1 unless scaled down.
    qreal scaleShown() const { return m_scale; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The scale the animation is shown at changed (see scaleShown()).
    void scaleChanged(qreal scale);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void prepareFrames();
    void showFrame(int index);

    Animation m_animation;
    std::vector<QPixmap> m_frames; // m_animation's frames, scaled to fit
    std::vector<int> m_delays;
    QSize m_expected;
    bool m_making = false;
    int m_current = 0;
    qreal m_scale = 1;
    PreviewGround m_ground = PreviewGround::Checkerboard;
    QTimer *m_timer;
};
