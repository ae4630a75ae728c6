#pragma once

#include "app/dock_layout.h"

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

    // The panel's own dock layout, created on first use. `innerMargin` keeps
    // docked children that far from every edge.
    DockLayout *dock(int innerMargin = 0);

    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
    DockLayout *m_dock = nullptr;
};

// Makes `widget` and everything it holds invisible to the mouse and unable to
// take the keyboard focus, without disabling it: a disabled widget paints its
// children with the greyed palette, which would change the strip's colours.
void makeInputTransparent(QWidget *widget);
