#pragma once

#include <QAbstractItemDelegate>
#include <QAbstractListModel>
#include <QComboBox>
#include <QFont>
#include <QFutureWatcher>
#include <QHash>
#include <QImage>
#include <QList>
#include <QString>
#include <QStyleOptionComboBox>

class QThread;

#include <functional>

// One installed font family as the list shows it.
struct FontFace {
    QString family;
    bool trueType = false;      // scalable outlines; the rest are bitmap faces
    bool writesChinese = false; // can write Simplified Chinese; the others give way to one that can

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

// `faces` with each family once, sorted by `locale`'s case-insensitive
// collation.
QList<FontFace> sortedFaces(QList<FontFace> faces, const QLocale &locale);

// The rows of the font list: the recently picked faces, the latest first,
// a separator line below them (only when there are any), then every face in
// the order given. A row shows the family (DisplayRole), an icon for its kind
// and the "中" mark (DecorationRole), and a tooltip for faces that write
// Simplified Chinese. A row's own face (FontRole) and its name drawn in it
// (ownName()) are there only once requestOwnFace() has asked for them and a
// worker has looked at the face: loading faces costs memory and time, so only
// the rows somebody sees are loaded, one face at a time, each in a thread of
// its own whose end releases everything the face took.
class FontListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kRecentLimit = 10;

    explicit FontListModel(QObject *parent);
    ~FontListModel() override;

    // Replaces every row with `faces`, and forgets the recent faces.
    void setFaces(const QList<FontFace> &faces);
    bool isFilled() const { return m_filled; }

    QStringList recentFaces() const { return m_recent; }
    // The row where the full list starts.
    int fullListStart() const { return m_recent.isEmpty() ? 0 : int(m_recent.size()) + 1; }
    // Puts `family` at the top of the recent faces, at most kRecentLimit of
    // them; the full list stays as it is.
    void remember(const QString &family);

    // Names are drawn in `listFont` where their own face cannot draw them or
    // would be wider than `nameRoom` pixels. Forgets every face looked at.
    void setNameLook(const QFont &listFont, int nameRoom);
    QFont listFont() const { return m_listFont; }
    // 0 until setNameLook() after the last setFaces().
    int nameRoom() const { return m_nameRoom; }
    // Asks, once per family, for the row's name drawn in its own face at
    // `scale` device pixels per pixel. The answer comes later, from the event
    // loop, as dataChanged() for the family's rows; requests are answered
    // latest first, so that the rows in view after a jump fill first.
    void requestOwnFace(const QModelIndex &index, qreal scale);
    // The row's name drawn in its own face as an alpha mask; null while
    // unanswered and where the list's font draws the name.
    QImage ownName(const QModelIndex &index) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    bool isSeparator(int row) const { return !m_recent.isEmpty() && row == m_recent.size(); }
    FontFace faceAt(int row) const;
    void lookAtNextFace();
    void forgetFaces();

    QList<FontFace> m_faces;
    QHash<QString, qsizetype> m_position; // family -> its place in m_faces
    QStringList m_recent;
    QFont m_listFont;
    int m_namePixels = 0; // the list font's height, which names in their own face share
    int m_nameRoom = 0;
    QHash<QString, QImage> m_ownNames; // families looked at; null: the list font
    QStringList m_waiting;             // families asked for, the latest last
    qreal m_scale = 1;                 // of the latest request
    QThread *m_looking = nullptr;      // the worker looking at a face, if any
    int m_look = 0;                    // changes whenever earlier answers go stale
    bool m_filled = false;
};

// Paints a font-list row as an item view does, in the list's font, with the
// name in the row's own face once the model has it; asking for it is all a
// paint does, so the first picture of the open list loads no face. Sizes come
// from the list's font alone. The separator is painted by `inner`, which
// stays owned by its parent.
class FontNameDelegate : public QAbstractItemDelegate {
    Q_OBJECT
public:
    FontNameDelegate(FontListModel *model, QAbstractItemDelegate *inner, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QStyleOptionViewItem rowOption(const QStyleOptionViewItem &option, const QModelIndex &index) const;

    FontListModel *m_model;
    QAbstractItemDelegate *m_inner;
};

// A drop-down list of font family names. The list is filled by a worker that
// starts when the control is created; until it arrives the control keeps the
// name it was given and shows it. Faces the user picks from the open list are
// repeated at the top of the list, the latest first, up to ten, with a line
// below them. The mouse wheel and the arrow keys over the closed box walk the
// whole list in order; the face they reach becomes recent only when the list
// is next opened. A list that arrives while the control is on screen but not
// yet painted is put in just after its first paint: the window never waits
// for it. Each entry shows its kind (TrueType or bitmap) and a "中"
// mark when the face writes Simplified Chinese, and, where that face can draw
// it, its name in its own face, loaded just after the entry is first painted.
// The list is sorted in the user's system locale.
class FontNameList : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kRecentLimit = FontListModel::kRecentLimit;

    FontNameList(const QString &objectName, FontEnumerator enumerator, QWidget *parent);
    ~FontNameList() override;

    // True once the worker's list has been put in.
    bool isFilled() const { return m_model->isFilled(); }

    // The selected entry's family; empty when nothing is selected. Before the
    // list arrives, the name last set with setCurrentFace().
    QString currentFace() const;

    // Selects the entry of the family `name` names, by its listed name or any
    // other name the font database knows for it (a localized one such as
    // "微软雅黑" for "Microsoft YaHei"); nothing when there is none. Before
    // the list arrives the name is kept, shown, and matched when it does.
    void setCurrentFace(const QString &name);

    // Selects the last entry. Before the list arrives this is the selection
    // the list will start with, whatever name was set.
    void selectLast();

    // The face the caller uses while nothing is selected; once the list is
    // in, the empty box shows it in grey as "默认：<family>".
    void setDefaultFace(const QString &family);

    // The recently picked faces, the latest first.
    QStringList recentFaces() const { return m_model->recentFaces(); }

    // The entry index where the full list starts, after the recent faces and
    // their separator line.
    int fullListStart() const { return m_model->fullListStart(); }

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
    // What the list selects when it arrives.
    enum class StartAt { NamedFace, LastEntry };

    void listReady();
    void fill();
    void chosen(int index);
    void remember(int index);
    int indexOfFace(const QString &name) const;
    void prepareOpenList();
    void showDefaultFace();
    QStyleOptionComboBox labelOption() const;
    int labelWidth(const QStyleOptionComboBox &option) const;

    FontListModel *m_model; // owned by the control
    QFutureWatcher<QList<FontFace>> m_watcher;
    QString m_pendingFace;
    StartAt m_startAt = StartAt::NamedFace;
    QString m_defaultFace;
    bool m_painted = false; // painted at least once; a list waiting for that is m_watcher's result
    bool m_walking = false; // inside a wheel or key event on the closed box
    bool m_walked = false;  // the selection moved by walking since the last pick
};
