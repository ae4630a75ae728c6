#include "app/font_name_list.h"

#include "composition/font_request.h"

#include <QAbstractItemView>
#include <QCollator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTimer>
#include <QToolTip>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr QSize kIconSize{32, 16}; // the kind on the left, the Chinese mark on the right

// The kind of face on the left, and on the right a seal with "中" when the
// face writes Simplified Chinese; drawn at twice the size too, for high-dpi
// screens.
QIcon faceIcon(bool trueType, bool writesChinese)
{
    const QIcon kind(trueType ? QStringLiteral(":/quillow/icons/face-truetype.svg")
                              : QStringLiteral(":/quillow/icons/face-bitmap.svg"));
    const QIcon mark(QStringLiteral(":/quillow/icons/writes-chinese.svg"));
    const QRect half(QPoint(0, 0), QSize(kIconSize.width() / 2, kIconSize.height()));
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(kIconSize * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        kind.paint(&painter, half);
        if (writesChinese)
            mark.paint(&painter, half.translated(half.width(), 0));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

const QIcon &iconFor(const FontFace &face)
{
    static const QIcon icons[2][2] = {{faceIcon(false, false), faceIcon(false, true)},
                                      {faceIcon(true, false), faceIcon(true, true)}};
    return icons[face.trueType][face.writesChinese];
}

// Families listed twice under one name carry their foundry: "Name [Foundry]".
QString withoutFoundry(const QString &family)
{
    const qsizetype bracket = family.indexOf(QLatin1String(" ["));
    return bracket > 0 && family.endsWith(QLatin1Char(']')) ? family.left(bracket) : family;
}

// The family a font's primary face really comes from is `family`.
bool isFamily(const QFont &font, const QString &family)
{
    return QFontInfo(font).family().compare(withoutFoundry(family), Qt::CaseInsensitive) == 0;
}

bool drawsOwnName(const QFont &own, const QString &family)
{
    // A symbol face would draw the letters of its name as pictures.
    if (!isFamily(own, family) || QFontDatabase::writingSystems(family).contains(QFontDatabase::Symbol))
        return false;
    const QFontMetrics metrics(own);
    const QList<uint> characters = family.toUcs4();
    return std::all_of(characters.begin(), characters.end(),
                       [&](uint character) { return metrics.inFontUcs4(character); });
}

// Qt's fontconfig database lists the generic families under these names as
// families of their own, each standing for whichever installed family the
// configuration prefers. Telling them apart by what they resolve to would load
// a face per family, which on a system with many fonts costs more memory than
// the whole window.
bool isGenericAlias(const QString &family)
{
    static const QStringList generic{QStringLiteral("Serif"), QStringLiteral("Sans Serif"),
                                     QStringLiteral("Monospace")};
    return generic.contains(family, Qt::CaseInsensitive);
}

} // namespace

QList<FontFace> installedFontFaces()
{
    QList<FontFace> faces;
    const QStringList families = QFontDatabase::families();
    faces.reserve(families.size());
    for (const QString &family : families) {
        if (QFontDatabase::isPrivateFamily(family) || isGenericAlias(family))
            continue;
        faces.append({family, QFontDatabase::isSmoothlyScalable(family), writesSimplifiedChinese(family)});
    }
    return faces;
}

QList<FontFace> withShownNames(QList<FontFace> faces, const QFont &listFont)
{
    const QFontMetrics listMetrics(listFont);
    for (FontFace &face : faces) {
        QFont own(listFont);
        own.setFamilies({face.family});
        face.drawsOwnName = drawsOwnName(own, face.family);
        face.nameWidth = face.drawsOwnName ? QFontMetrics(own).horizontalAdvance(face.family)
                                           : listMetrics.horizontalAdvance(face.family);
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
    setMinimumContentsLength(8);

    connect(&m_watcher, &QFutureWatcher<QList<FontFace>>::finished, this, &FontNameList::listReady);
    connect(this, &QComboBox::activated, this, &FontNameList::chosen);

    // Sorting runs on the worker too: collating a few thousand names is slow.
    // The order follows the user's own locale, not the interface's Chinese
    // one.
    const QLocale locale = QLocale::system();
    m_watcher.setFuture(QtConcurrent::run(
        [enumerator = std::move(enumerator), locale] { return sortedFaces(enumerator(), locale); }));
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

void FontNameList::setCurrentFace(const QString &name)
{
    if (!m_filled) {
        m_pendingFace = name;
        showDefaultFace();
        return;
    }
    setCurrentIndex(indexOfFace(name));
}

void FontNameList::selectLast()
{
    if (m_filled && count() > 0)
        setCurrentIndex(count() - 1);
}

void FontNameList::setDefaultFace(const QString &family)
{
    m_defaultFace = family;
    showDefaultFace();
}

int FontNameList::fullListStart() const
{
    return m_recent.isEmpty() ? 0 : int(m_recent.size()) + 1;
}

// The box shows its placeholder while no entry is selected: the name waiting
// for the list, then the face used in place of a selection.
void FontNameList::showDefaultFace()
{
    QString text;
    if (!m_filled)
        text = m_pendingFace;
    else if (!m_defaultFace.isEmpty())
        text = QStringLiteral("默认：%1").arg(m_defaultFace);
    // QComboBox selects its first entry when the placeholder is cleared
    // while nothing is selected; nothing must stay nothing.
    const int selected = currentIndex();
    setPlaceholderText(text);
    if (currentIndex() != selected)
        setCurrentIndex(selected);
}

// Qt lists a family under one name, usually its English one; its other
// names (a localized "微软雅黑" for "Microsoft YaHei") are known to the font
// database, which resolves them to the listed family.
int FontNameList::indexOfFace(const QString &name) const
{
    if (name.isEmpty())
        return -1;
    const int listed = findText(name, Qt::MatchExactly);
    if (listed >= 0 || !QFontDatabase::hasFamily(name))
        return listed;
    return findText(QFontInfo(QFont(name)).family(), Qt::MatchFixedString);
}

void FontNameList::addEntry(const FontFace &face, int at)
{
    insertItem(at, iconFor(face), face.family);
    setOwnFace(face, at);
    if (face.writesChinese)
        setItemData(at, QStringLiteral("可书写简体中文"), Qt::ToolTipRole);
}

void FontNameList::setOwnFace(const FontFace &face, int at)
{
    if (!face.drawsOwnName)
        return;
    QFont own(font());
    own.setFamilies({face.family});
    setItemData(at, own, Qt::FontRole);
}

// Putting the list in draws the entries' icons and looks the pending name
// up in the font configuration; on a quick machine the list is in before the
// window first appears, and all that would delay it. Until then the box
// shows the pending name, which is what readers of currentFace() see too.
void FontNameList::listReady()
{
    if (isVisible() && !m_painted) {
        m_fillOnPaint = true;
        return;
    }
    fill(m_watcher.future().result());
}

void FontNameList::fill(const QList<FontFace> &faces)
{
    QSignalBlocker quiet(this);
    // Set with the first entries rather than when the control is made:
    // QComboBox builds its whole drop-down list to apply either, and the
    // empty box, all there is before the list arrives, needs neither.
    setIconSize(kIconSize);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    clear();
    for (const FontFace &face : faces) {
        m_faces.insert(face.family, face);
        addEntry(face, count());
    }
    m_filled = true;
    setCurrentIndex(indexOfFace(m_pendingFace));
    m_pendingFace.clear();
    showDefaultFace();
    quiet.unblock();
    emit currentIndexChanged(currentIndex());
    emit listArrived();
}

// Drawing a name in its own face means loading that face, which for every
// installed family costs more memory than the rest of the window; only
// someone who opens the list sees the names, so they are measured then, once.
void FontNameList::showNamesInOwnFaces()
{
    if (m_namesShown || !m_filled)
        return;
    m_namesShown = true;
    const QList<FontFace> shown = withShownNames(m_faces.values(), font());
    for (const FontFace &face : shown)
        m_faces.insert(face.family, face);
    for (int at = 0; at < count(); ++at) {
        const auto face = m_faces.constFind(itemText(at));
        if (face != m_faces.cend())
            setOwnFace(*face, at);
    }
    fitPopupToNames(shown);
}

// The open list is at least as wide as its widest name, so that no name is
// cut short; the entries' own size hints do not count the per-entry face.
// Besides the name, an entry holds the icon and the style's margins around
// both, which stay well within one line height on either side.
void FontNameList::fitPopupToNames(const QList<FontFace> &faces)
{
    const auto widest =
        std::max_element(faces.begin(), faces.end(),
                         [](const FontFace &a, const FontFace &b) { return a.nameWidth < b.nameWidth; });
    if (widest == faces.end())
        return;
    QAbstractItemView *list = view();
    const int entry = widest->nameWidth + iconSize().width() + 2 * fontMetrics().height();
    const int scrollBar = count() > maxVisibleItems() ? list->verticalScrollBar()->sizeHint().width() : 0;
    list->setMinimumWidth(entry + scrollBar + 2 * list->frameWidth());
}

void FontNameList::chosen(int index)
{
    if (m_walking)
        m_walked = true;
    else
        remember(index);
}

void FontNameList::wheelEvent(QWheelEvent *event)
{
    const QScopedValueRollback walking(m_walking, true);
    QComboBox::wheelEvent(event);
}

void FontNameList::keyPressEvent(QKeyEvent *event)
{
    const QScopedValueRollback walking(m_walking, true);
    QComboBox::keyPressEvent(event);
}

// The closed box's look, saying in full what it shows: the selected name, or
// the placeholder in its grey.
QStyleOptionComboBox FontNameList::labelOption() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    if (currentIndex() < 0 && !placeholderText().isEmpty()) {
        option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
        option.currentText = placeholderText();
    }
    return option;
}

// The room the closed box has for its text, beside the icon.
int FontNameList::labelWidth(const QStyleOptionComboBox &option) const
{
    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    if (!option.currentIcon.isNull())
        field.setLeft(field.left() + option.iconSize.width() + 4);
    return field.width() - 2;
}

// As QComboBox paints itself, but a name or hint too long for the box ends
// in "…" instead of being cut off mid-letter.
void FontNameList::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option = labelOption();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText =
        option.fontMetrics.elidedText(option.currentText, Qt::ElideRight, labelWidth(option));
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);

    if (!m_painted) {
        m_painted = true;
        // After the whole window's paint and its hand-over to the screen.
        if (m_fillOnPaint)
            QTimer::singleShot(0, this, [this] { fill(m_watcher.future().result()); });
    }
}

// A name or hint that ends in "…" is shown in full while the mouse rests on
// the box.
bool FontNameList::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip || !toolTip().isEmpty())
        return QComboBox::event(event);
    const QStyleOptionComboBox option = labelOption();
    if (option.fontMetrics.horizontalAdvance(option.currentText) > labelWidth(option))
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), option.currentText, this);
    else
        QToolTip::hideText();
    return true;
}

void FontNameList::showPopup()
{
    if (m_walked)
        remember(currentIndex());
    showNamesInOwnFaces();
    QComboBox::showPopup();
}

// The recent faces occupy the first m_recent.size() entries and a separator
// line follows them; the full list comes after, unchanged.
void FontNameList::remember(int index)
{
    m_walked = false;
    if (index < 0)
        return;
    const QString family = itemText(index);
    const QSignalBlocker quiet(this);
    const bool firstRecent = m_recent.isEmpty();
    const int previous = int(m_recent.indexOf(family));
    if (previous >= 0) {
        removeItem(previous);
        m_recent.removeAt(previous);
    } else if (m_recent.size() == kRecentLimit) {
        removeItem(kRecentLimit - 1);
        m_recent.removeLast();
    }
    if (firstRecent)
        insertSeparator(0);
    m_recent.prepend(family);
    addEntry(m_faces.value(family, FontFace{family}), 0);
    setCurrentIndex(0);
}
