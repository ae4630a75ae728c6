#pragma once

#include <QComboBox>
#include <QFont>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QString>
#include <QStyleOptionComboBox>

#include <functional>

// One installed font family as the list shows it.
struct FontFace {
    QString family;
    bool trueType = false;      // scalable outlines; the rest are bitmap faces
    bool writesChinese = false; // can write Simplified Chinese; the others give way to one that can
    bool drawsOwnName = false;  // the family's own face can draw its name
    int nameWidth = 0;          // pixels the name takes as the list shows it

    bool operator==(const FontFace &) const = default;
};

// Lists font families. Runs on a worker thread, so it must not touch widgets.
using FontEnumerator = std::function<QList<FontFace>()>;

// Every installed family once, with its kind and whether it writes Simplified
// Chinese. Private system families and the generic aliases the font
// configuration adds ("Sans Serif", "Serif", "Monospace": names that stand
// for a different family) are left out. Loads no face. Safe on a worker
// thread.
QList<FontFace> installedFontFaces();

// `faces` with drawsOwnName and nameWidth filled in for names shown in
// `listFont`, each in its own face where that face can draw it. Loads every
// face in `faces`.
QList<FontFace> withShownNames(QList<FontFace> faces, const QFont &listFont);

// `faces` with each family once, sorted by `locale`'s case-insensitive
// collation.
QList<FontFace> sortedFaces(QList<FontFace> faces, const QLocale &locale);

// A drop-down list of font family names. The list is filled by a worker that
// starts when the control is created; until it arrives the control keeps the
// name it was given and shows it. Faces the user picks from the open list are
// repeated at the top of the list, the latest first, up to ten, with a line
// below them. The mouse wheel and the arrow keys over the closed box walk the
// whole list in order; the face they reach becomes recent only when the list
// is next opened. A list that arrives while the control is on screen but not
// yet painted is put in just after its first paint: the window never waits
// for it. Each entry shows its kind (TrueType or bitmap) and a "中"
// mark when the face writes Simplified Chinese, and, from the first time the
// list is opened, its name in its own face where that face can draw it.
// The list is sorted in the user's system locale.
class FontNameList : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kRecentLimit = 10;

    FontNameList(const QString &objectName, FontEnumerator enumerator, QWidget *parent);
    ~FontNameList() override;

    // True once the worker's list has been put in.
    bool isFilled() const { return m_filled; }

    // The selected entry's family; empty when nothing is selected. Before the
    // list arrives, the name last set with setCurrentFace().
    QString currentFace() const;

    // Selects the entry of the family `name` names, by its listed name or any
    // other name the font database knows for it (a localized one such as
    // "微软雅黑" for "Microsoft YaHei"); nothing when there is none. Before
    // the list arrives the name is kept and matched when it does.
    void setCurrentFace(const QString &name);

    // Selects the last entry; ignored while the list is still being filled.
    void selectLast();

    // The face the caller uses while nothing is selected; once the list is
    // in, the empty box shows it in grey as "默认：<family>".
    void setDefaultFace(const QString &family);

    // The recently picked faces, the latest first.
    QStringList recentFaces() const { return m_recent; }

    // The entry index where the full list starts, after the recent faces and
    // their separator line.
    int fullListStart() const;

    void showPopup() override;

signals:
    // Emitted on the window thread once the list is in.
    void listArrived();

protected:
    bool event(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void listReady();
    void fill(const QList<FontFace> &faces);
    void chosen(int index);
    void remember(int index);
    void addEntry(const FontFace &face, int at);
    void setOwnFace(const FontFace &face, int at);
    void showNamesInOwnFaces();
    int indexOfFace(const QString &name) const;
    void fitPopupToNames(const QList<FontFace> &faces);
    void showDefaultFace();
    QStyleOptionComboBox labelOption() const;
    int labelWidth(const QStyleOptionComboBox &option) const;

    QFutureWatcher<QList<FontFace>> m_watcher;
    QHash<QString, FontFace> m_faces;
    QStringList m_recent;
    QString m_pendingFace;
    QString m_defaultFace;
    bool m_filled = false;
    bool m_painted = false;     // painted at least once
    bool m_fillOnPaint = false; // the list is in and waits for the first paint
    bool m_namesShown = false;  // names measured and set in their own faces
    bool m_walking = false;     // inside a wheel or key event on the closed box
    bool m_walked = false;      // the selection moved by walking since the last pick
};
