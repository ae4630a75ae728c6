#include "app/font_name_list.h"

#include <QCollator>
#include <QFontDatabase>
#include <QPainter>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

// Drawn rather than loaded so the control needs no resource files: an
// outlined "T" for scalable faces, a blocky grid for bitmap ones.
QIcon faceIcon(bool trueType)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    if (trueType) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(30, 90, 200), 2));
        painter.drawLine(QPointF(3, 3), QPointF(13, 3));
        painter.drawLine(QPointF(8, 3), QPointF(8, 14));
        painter.setPen(QPen(QColor(120, 160, 230), 1));
        painter.drawLine(QPointF(5, 14), QPointF(11, 14));
    } else {
        const QColor dot(110, 110, 110);
        for (int y = 3; y < 14; y += 3)
            for (int x = 3; x < 14; x += 3)
                if ((x + y) % 2 == 0 || y == 3)
                    painter.fillRect(x, y, 2, 2, dot);
    }
    return QIcon(pixmap);
}

const QIcon &iconFor(bool trueType)
{
    static const QIcon scalable = faceIcon(true);
    static const QIcon bitmap = faceIcon(false);
    return trueType ? scalable : bitmap;
}

} // namespace

QList<FontFace> installedFontFaces()
{
    QList<FontFace> faces;
    const QStringList families = QFontDatabase::families();
    faces.reserve(families.size());
    for (const QString &family : families) {
        if (QFontDatabase::isPrivateFamily(family))
            continue;
        faces.append({family, QFontDatabase::isSmoothlyScalable(family)});
    }
    return faces;
}

QList<FontFace> sortedFaces(QList<FontFace> faces, const QLocale &locale)
{
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(faces.begin(), faces.end(), [&](const FontFace &a, const FontFace &b) {
        return collator.compare(a.family, b.family) < 0;
    });
    QSet<QString> seen;
    QList<FontFace> unique;
    unique.reserve(faces.size());
    for (const FontFace &face : std::as_const(faces))
        if (!seen.contains(face.family)) {
            seen.insert(face.family);
            unique.append(face);
        }
    return unique;
}

FontNameList::FontNameList(const QString &objectName, FontEnumerator enumerator, QWidget *parent)
    : QComboBox(parent)
{
    setObjectName(objectName);
    setEditable(false);
    setMaxVisibleItems(20);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);

    connect(&m_watcher, &QFutureWatcher<QList<FontFace>>::finished, this, [this] {
        fill(m_watcher.future().result());
    });
    connect(this, &QComboBox::activated, this, &FontNameList::remember);

    // The sort runs on the worker too: collating a few thousand names is the
    // slow part on a system with many fonts. It follows the user's own
    // locale, not the interface's Chinese one.
    const QLocale locale = QLocale::system();
    m_watcher.setFuture(QtConcurrent::run([enumerator = std::move(enumerator), locale] {
        return sortedFaces(enumerator(), locale);
    }));
}

// The worker holds only its own copies, so it may outlive the control; the
// watcher is disconnected with it and nothing is delivered to a dead widget.
FontNameList::~FontNameList() = default;

QString FontNameList::currentFace() const
{
    if (!m_filled)
        return m_pendingFace;
    return currentIndex() >= 0 ? currentText() : QString();
}

void FontNameList::setCurrentFace(const QString &family)
{
    if (!m_filled) {
        m_pendingFace = family;
        setPlaceholderText(family);
        return;
    }
    setCurrentIndex(family.isEmpty() ? -1 : findText(family, Qt::MatchExactly));
}

void FontNameList::selectLast()
{
    if (m_filled && count() > 0)
        setCurrentIndex(count() - 1);
}

void FontNameList::addEntry(const FontFace &face, int at)
{
    insertItem(at, iconFor(face.trueType), face.family);
}

void FontNameList::fill(const QList<FontFace> &faces)
{
    QSignalBlocker quiet(this);
    clear();
    for (const FontFace &face : faces) {
        m_trueType.insert(face.family, face.trueType);
        addEntry(face, count());
    }
    m_filled = true;
    setPlaceholderText(QString());
    setCurrentIndex(m_pendingFace.isEmpty() ? -1 : findText(m_pendingFace, Qt::MatchExactly));
    m_pendingFace.clear();
    quiet.unblock();
    emit currentIndexChanged(currentIndex());
    emit listArrived();
}

// The recent faces occupy the first m_recent.size() entries; the full list
// follows unchanged.
void FontNameList::remember(int index)
{
    if (index < 0)
        return;
    const QString family = itemText(index);
    const QSignalBlocker quiet(this);
    const int previous = int(m_recent.indexOf(family));
    if (previous >= 0) {
        removeItem(previous);
        m_recent.removeAt(previous);
    } else if (m_recent.size() == kRecentLimit) {
        removeItem(kRecentLimit - 1);
        m_recent.removeLast();
    }
    m_recent.prepend(family);
    addEntry({family, m_trueType.value(family)}, 0);
    setCurrentIndex(0);
}
