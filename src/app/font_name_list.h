#pragma once

#include <QComboBox>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

// One installed font family as the list shows it.
struct FontFace {
    QString family;
    bool trueType = false; // scalable outlines; the rest are bitmap faces

    bool operator==(const FontFace &) const = default;
};

// Lists font families. Runs on a worker thread, so it must not touch widgets.
using FontEnumerator = std::function<QList<FontFace>()>;

// Every installed family once (private system families left out).
QList<FontFace> installedFontFaces();

// `faces` with each family once, sorted by `locale`'s case-insensitive
// collation.
QList<FontFace> sortedFaces(QList<FontFace> faces, const QLocale &locale);

// A drop-down list of font family names. The list is filled by a worker that
// starts when the control is created; until it arrives the control keeps the
// name it was given and shows it. Faces the user picks are repeated at the
// top of the list, the latest first, up to ten.
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

    // Selects the entry named `family`, or nothing when there is none. Before
    // the list arrives the name is kept and matched when it does.
    void setCurrentFace(const QString &family);

    // Selects the last entry; ignored while the list is still being filled.
    void selectLast();

    // The recently picked faces, the latest first.
    QStringList recentFaces() const { return m_recent; }

signals:
    // Emitted on the window thread once the list is in.
    void listArrived();

private:
    void fill(const QList<FontFace> &faces);
    void remember(int index);
    void addEntry(const FontFace &face, int at);

    QFutureWatcher<QList<FontFace>> m_watcher;
    QHash<QString, bool> m_trueType;
    QStringList m_recent;
    QString m_pendingFace;
    bool m_filled = false;
};
