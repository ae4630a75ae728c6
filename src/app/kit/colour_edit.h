#pragma once

#include "composition/colour_value.h"

#include <QFrame>
#include <QWidget>

#include <optional>

class QToolButton;

// The drop-down of a ColourEdit: a grid of colour swatches, an entry that
// returns to the default colour and one that opens the full colour dialog.
class ColourGallery : public QFrame {
    Q_OBJECT
public:
    explicit ColourGallery(QWidget *parent);

    // The swatch buttons, row by row; each carries its colour value in the
    // "colour" property.
    QList<QToolButton *> swatches() const { return m_swatches; }
    QToolButton *defaultButton() const { return m_default; }

    static const QList<ColourValue> &palette();

signals:
    void colourPicked(ColourValue colour);
    void defaultPicked();
    void moreRequested();

private:
    QList<QToolButton *> m_swatches;
    QToolButton *m_default;
};

// A field showing a colour, with a drop-down colour gallery. While no colour
// has been chosen, or after it was cleared, the field stands for its default
// colour.
class ColourEdit : public QWidget {
    Q_OBJECT
public:
    ColourEdit(const QString &objectName, ColourValue defaultColour, QWidget *parent);

    // The chosen colour, or the default while none is chosen.
    ColourValue colour() const { return m_colour.value_or(m_default); }
    bool isSet() const { return m_colour.has_value(); }

    void setColour(ColourValue colour);
    void clear();

    // Opens the gallery under the field; a click outside closes it.
    void showGallery();
    // The drop-down, built the first time it is asked for: two colour edits
    // with forty swatches each would otherwise delay the window's first
    // paint for a gallery that most runs never open.
    ColourGallery *gallery();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void colourChanged(ColourValue colour);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void chooseMore();
    // Refreshes the field and tells listeners when the shown colour moved.
    void shownColourWas(ColourValue before);

    std::optional<ColourValue> m_colour;
    ColourValue m_default;
    ColourGallery *m_gallery = nullptr; // owned by this edit once built
};
