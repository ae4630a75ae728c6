#pragma once

#include "app/kit/dock_layout.h"

#include <QFrame>
#include <QString>

// A plain container: flat (no bevel), the parent's ground unless given a
// colour of its own, optionally a caption drawn at its left edge and
// vertically centred, and a DockLayout for its docked children.
class Panel : public QFrame {
    Q_OBJECT
public:
    // `objectName` is the panel's component name.
    Panel(const QString &objectName, QWidget *parent);

    // The panel's own dock layout, created on first use. Asking for it
    // changes nothing about the panel.
    DockLayout *dock();

    // Keeps docked children `margin` pixels from every edge; the caption
    // keeps the same distance from the left edge. 0 until set.
    void setInnerMargin(int margin);
    int innerMargin() const { return m_innerMargin; }

    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
    DockLayout *m_dock = nullptr;
    int m_innerMargin = 0;
};

// Makes `widget` and every widget it holds, now or later, invisible to the
// mouse and unable to take the keyboard focus, without disabling it: a
// disabled widget paints its children with the greyed palette, which would
// change the strip's colours. A child added later is covered as it is added
// and again when it is first polished (before it is shown), so a constructor
// that sets its own focus policy cannot undo it. The rule stays in force for
// the life of `widget`.
void makeInputTransparent(QWidget *widget);
