#pragma once

#include <QLayout>
#include <QList>

// Where a docked child sits in its parent. The children are placed in the
// order they were added: each takes its side of what the earlier ones left,
// keeping its own extent across that side; Fill takes whatever remains.
enum class Dock { Top, Bottom, Left, Right, Fill };

// A layout for panels built from docked strips, so that a panel keeps its
// fixed-size columns and rows while the window grows or shrinks and only the
// filling child changes size. Children that are not docked are not part of
// it and stay where they were placed.
class DockLayout : public QLayout {
public:
    explicit DockLayout(QWidget *parent);
    ~DockLayout() override;

    // Docks `widget` (reparented to the layout's widget) on `side`. `extent`
    // is its height for Top and Bottom, its width for Left and Right, and
    // ignored for Fill; a negative extent takes the widget's size hint.
    void addDocked(QWidget *widget, Dock side, int extent = -1);

    void addItem(QLayoutItem *item) override; // docks as Fill
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;

private:
    struct Entry {
        QLayoutItem *item;
        Dock side;
        int extent;
    };
    int extentOf(const Entry &entry) const;
    QSize required(bool minimum) const;

    QList<Entry> m_entries;
};
