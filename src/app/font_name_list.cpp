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

// The list font in `family`'s own face, when that face can draw the name.
std::optional<QFont> ownFaceFor(const QString &family, const QFont &listFont)
{
    QFont own(listFont);
    own.setFamilies({family});
    if (!drawsOwnName(own, family))
        return std::nullopt;
    return own;
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
        const std::optional<QFont> own = ownFaceFor(face.family, listFont);
        face.drawsOwnName = own.has_value();
        face.nameWidth = QFontMetrics(own.value_or(listFont)).horizontalAdvance(face.family);
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

FontListModel::FontListModel(QObject *parent) : QAbstractListModel(parent)
{}

void FontListModel::setFaces(const QList<FontFace> &faces)
{
    beginResetModel();
    m_faces = faces;
    m_position.clear();
    for (qsizetype at = 0; at < m_faces.size(); ++at)
        m_position.insert(m_faces[at].family, at);
    m_recent.clear();
    m_ownFaces.clear();
    m_nameRoom = 0;
    m_filled = true;
    endResetModel();
}

FontFace FontListModel::faceAt(int row) const
{
    if (row < m_recent.size()) {
        const QString &family = m_recent[row];
        const auto at = m_position.constFind(family);
        return at == m_position.cend() ? FontFace{family} : m_faces[*at];
    }
    return m_faces[row - fullListStart()];
}

// The recent faces occupy the first rows and a separator line follows them;
// the full list comes after, unchanged.
void FontListModel::remember(const QString &family)
{
    const int previous = int(m_recent.indexOf(family));
    if (previous >= 0) {
        beginRemoveRows({}, previous, previous);
        m_recent.removeAt(previous);
        endRemoveRows();
    } else if (m_recent.size() == kRecentLimit) {
        beginRemoveRows({}, kRecentLimit - 1, kRecentLimit - 1);
        m_recent.removeLast();
        endRemoveRows();
    }
    // The first recent face brings the separator with it.
    beginInsertRows({}, 0, m_recent.isEmpty() ? 1 : 0);
    m_recent.prepend(family);
    endInsertRows();
}

void FontListModel::setNameLook(const QFont &listFont, int nameRoom)
{
    m_listFont = listFont;
    m_nameRoom = nameRoom;
    m_ownFaces.clear();
}

void FontListModel::resolveOwnFace(const QModelIndex &index)
{
    if (!index.isValid() || isSeparator(index.row()))
        return;
    const QString family = faceAt(index.row()).family;
    if (m_ownFaces.contains(family))
        return;
    std::optional<QFont> own = ownFaceFor(family, m_listFont);
    // A face wider than the room the open list makes would cut its name.
    if (own && QFontMetrics(*own).horizontalAdvance(family) > m_nameRoom)
        own.reset();
    m_ownFaces.insert(family, own);
}

int FontListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_faces.size()) + fullListStart();
}

QVariant FontListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (isSeparator(index.row()))
        // What QComboBox's own delegates draw as a line.
        return role == Qt::AccessibleDescriptionRole ? QVariant(QStringLiteral("separator")) : QVariant();
    const FontFace face = faceAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return face.family;
    case Qt::DecorationRole:
        return iconFor(face);
    case Qt::ToolTipRole:
        return face.writesChinese ? QVariant(QStringLiteral("可书写简体中文")) : QVariant();
    case Qt::FontRole: {
        const auto own = m_ownFaces.constFind(face.family);
        return own != m_ownFaces.cend() && own->has_value() ? QVariant(**own) : QVariant();
    }
    default:
        return {};
    }
}

Qt::ItemFlags FontListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || isSeparator(index.row()))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

FontNameDelegate::FontNameDelegate(FontListModel *model, QAbstractItemDelegate *inner, QObject *parent)
    : QAbstractItemDelegate(parent), m_model(model), m_inner(inner)
{}

void FontNameDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    m_model->resolveOwnFace(index);
    m_inner->paint(painter, option, index);
}

QSize FontNameDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return m_inner->sizeHint(option, index);
}

FontNameList::FontNameList(const QString &objectName, FontEnumerator enumerator, QWidget *parent)
    : QComboBox(parent), m_model(new FontListModel(this))
{
    setObjectName(objectName);
    setEditable(false);
    setMaxVisibleItems(20);
    setMinimumContentsLength(8);
    setModel(m_model);

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
    if (!isFilled())
        return m_pendingFace;
    return currentIndex() >= 0 ? currentText() : QString();
}

void FontNameList::setCurrentFace(const QString &name)
{
    if (!isFilled()) {
        m_pendingFace = name;
        m_startAt = StartAt::NamedFace;
        showDefaultFace();
        return;
    }
    setCurrentIndex(indexOfFace(name));
}

void FontNameList::selectLast()
{
    if (!isFilled())
        m_startAt = StartAt::LastEntry;
    else if (count() > 0)
        setCurrentIndex(count() - 1);
}

void FontNameList::setDefaultFace(const QString &family)
{
    m_defaultFace = family;
    showDefaultFace();
}

// The box shows its placeholder while no entry is selected: the name waiting
// for the list, then the face used in place of a selection.
void FontNameList::showDefaultFace()
{
    QString text;
    if (!isFilled())
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

// Putting the list in draws the entries' icons and looks the pending name
// up in the font configuration; on a quick machine the list is in before the
// window first appears, and all that would delay it. Until then the box
// shows the pending name, which is what readers of currentFace() see too.
void FontNameList::listReady()
{
    if (isVisible() && !m_painted)
        return; // paintEvent() fills it
    fill();
}

void FontNameList::fill()
{
    // The worker's result can be taken at the first paint before its
    // watcher reports it; it goes in once.
    if (isFilled())
        return;
    // Set with the first entries rather than when the control is made:
    // QComboBox builds its whole drop-down list to apply either, and the
    // empty box, all there is before the list arrives, needs neither.
    setIconSize(kIconSize);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    {
        // A reset makes QComboBox select the first entry on its own; the
        // list starts from nothing and selects only what was asked for.
        const QSignalBlocker quiet(this);
        m_model->setFaces(m_watcher.future().result());
        setCurrentIndex(-1);
    }
    setCurrentIndex(m_startAt == StartAt::LastEntry ? count() - 1 : indexOfFace(m_pendingFace));
    m_pendingFace.clear();
    showDefaultFace();
    emit listArrived();
}

// The open list is at least as wide as its widest name in the list's font,
// so that no name is cut short; a face that would draw its name wider than
// that shows it in the list's font. Besides the name, an entry holds the
// icon and the style's margins around both, which stay well within one line
// height on either side. Measured in the list's font only, so no face is
// loaded for it.
void FontNameList::prepareOpenList()
{
    QAbstractItemView *list = view();
    if (!qobject_cast<FontNameDelegate *>(list->itemDelegate()))
        list->setItemDelegate(new FontNameDelegate(m_model, list->itemDelegate(), this));
    if (!isFilled() || m_model->nameRoom() > 0)
        return;
    const QFontMetrics metrics = fontMetrics();
    int widest = 0;
    for (int at = fullListStart(); at < count(); ++at)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(at)));
    m_model->setNameLook(font(), widest + metrics.height());
    const int entry = widest + iconSize().width() + 2 * metrics.height();
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
        if (m_watcher.isFinished() && !isFilled())
            QTimer::singleShot(0, this, &FontNameList::fill);
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
    prepareOpenList();
    QComboBox::showPopup();
}

void FontNameList::remember(int index)
{
    m_walked = false;
    if (index < 0)
        return;
    const QString family = itemText(index);
    const QSignalBlocker quiet(this);
    m_model->remember(family);
    setCurrentIndex(0);
}
