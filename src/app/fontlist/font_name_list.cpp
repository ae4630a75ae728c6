#include "app/fontlist/font_name_list.h"

#include "app/fontlist/own_name_mask.h"
#include "app/kit/shared_style.h"

#include "composition/font_request.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCollator>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QListView>
#include <QPainter>
#include <QProxyStyle>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QtConcurrent/QtConcurrentRun>

#include <malloc.h>

#include <algorithm>
#include <memory>

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

// Some styles (Fusion among them) open a combo box's list over the box and
// as tall as the screen, whatever maxVisibleItems() asks: a screen of names,
// each then loaded to be drawn in its own face. This one opens it below the
// box with maxVisibleItems() rows; everything else is the application's
// style.
class ListBelowStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        return hint == SH_ComboBox_Popup ? 0 : QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

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

// The worker holds only its own copies; its few milliseconds are waited for
// so that no thread outlives the list.
FontListModel::~FontListModel()
{
    if (m_looking) {
        m_looking->wait();
        delete m_looking;
    }
}

void FontListModel::setFaces(const QList<FontFace> &faces)
{
    beginResetModel();
    m_faces = faces;
    m_position.clear();
    for (qsizetype at = 0; at < m_faces.size(); ++at)
        m_position.insert(m_faces[at].family, at);
    m_recent.clear();
    forgetFaces();
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
    m_namePixels = QFontInfo(listFont).pixelSize();
    m_nameRoom = nameRoom;
    forgetFaces();
}

void FontListModel::forgetFaces()
{
    m_ownNames.clear();
    m_waiting.clear();
    ++m_look; // the answer on its way, if any, is for the old look
}

void FontListModel::requestOwnFace(const QModelIndex &index, qreal scale)
{
    if (!index.isValid() || isSeparator(index.row()))
        return;
    const QString family = faceAt(index.row()).family;
    if (m_ownNames.contains(family))
        return;
    m_scale = scale;
    m_waiting.removeOne(family);
    m_waiting.append(family);
    // Not while the row is being painted: the open list's first picture
    // goes to the screen before any face is loaded.
    if (!m_looking && m_waiting.size() == 1)
        QMetaObject::invokeMethod(this, &FontListModel::lookAtNextFace, Qt::QueuedConnection);
}

// Qt keeps every face it loads in caches of the thread that loaded it, and
// frees them with that thread; a thread per face keeps at most one face in
// memory beyond what the window itself uses.
void FontListModel::lookAtNextFace()
{
    if (m_looking || m_waiting.isEmpty())
        return;
    const QString family = m_waiting.takeLast();
    auto answer = std::make_shared<QImage>();
    m_looking = QThread::create([answer, family, pixels = m_namePixels, room = m_nameRoom, scale = m_scale] {
        *answer = ownNameMask(family, pixels, room, scale);
    });
    connect(m_looking, &QThread::finished, this, [this, answer, family, look = m_look] {
        m_looking->wait();
        delete m_looking;
        m_looking = nullptr;
        // The C library keeps what the thread freed (the font file's tables
        // FreeType read) for later threads; none may come.
        malloc_trim(0);
        if (look == m_look) {
            m_ownNames.insert(family, *answer);
            for (int row = 0; row < rowCount(); ++row)
                if (!isSeparator(row) && faceAt(row).family == family)
                    emit dataChanged(index(row), index(row), {Qt::FontRole});
        }
        lookAtNextFace();
    });
    m_looking->start(QThread::LowPriority);
}

QImage FontListModel::ownName(const QModelIndex &index) const
{
    if (!index.isValid() || index.row() >= rowCount() || isSeparator(index.row()))
        return {};
    return m_ownNames.value(faceAt(index.row()).family);
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
        if (m_ownNames.value(face.family).isNull())
            return {};
        // Built afresh, never measured here: a font that has been measured
        // keeps its face loaded for as long as it lives.
        QFont own(m_listFont);
        own.setFamilies({face.family});
        return own;
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

// The row as an item view shows it, in the list's font whatever the row's
// own face: measuring that face would load it.
QStyleOptionViewItem FontNameDelegate::rowOption(const QStyleOptionViewItem &option,
                                                 const QModelIndex &index) const
{
    QStyleOptionViewItem row(option);
    row.index = index;
    row.font = m_model->listFont();
    row.fontMetrics = QFontMetrics(row.font);
    row.text = index.data(Qt::DisplayRole).toString();
    row.icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    row.decorationSize = kIconSize;
    row.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    row.textElideMode = Qt::ElideRight;
    row.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    return row;
}

void FontNameDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    if (index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) {
        m_inner->paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem row = rowOption(option, index);
    QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    const QImage ownName = m_model->ownName(index);
    if (ownName.isNull()) {
        m_model->requestOwnFace(index, painter->device()->devicePixelRatioF());
        style->drawControl(QStyle::CE_ItemViewItem, &row, painter, option.widget);
        return;
    }
    // The style places the text; the name in its own face goes where the
    // list's font would have put it, in the colour the style gives text.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &row, option.widget)
                               .adjusted(margin, 0, -margin, 0);
    row.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &row, painter, option.widget);

    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : option.state & QStyle::State_Active   ? QPalette::Active
                                                                               : QPalette::Inactive;
    const QPalette::ColorRole role =
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
    QImage tinted(ownName.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.setDevicePixelRatio(ownName.devicePixelRatio());
    tinted.fill(option.palette.color(group, role));
    QPainter tint(&tinted);
    tint.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    tint.drawImage(0, 0, ownName);
    tint.end();
    const QSizeF size = ownName.deviceIndependentSize();
    const QPointF at(textRect.left(), textRect.top() + (textRect.height() - size.height()) / 2);
    painter->save();
    painter->setClipRect(textRect, Qt::IntersectClip);
    painter->drawImage(at, tinted);
    painter->restore();
}

QSize FontNameDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator"))
        return m_inner->sizeHint(option, index);
    const QStyleOptionViewItem row = rowOption(option, index);
    QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    return style->sizeFromContents(QStyle::CT_ItemViewItem, &row, QSize(), option.widget);
}

FontNameList::FontNameList(const QString &objectName, FontEnumerator enumerator, QWidget *parent)
    : QComboBox(parent), m_model(new FontListModel(this))
{
    setObjectName(objectName);
    setEditable(false);
    setStyle(sharedStyle<ListBelowStyle>());
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
    if (!qobject_cast<FontNameDelegate *>(list->itemDelegate())) {
        list->setItemDelegate(new FontNameDelegate(m_model, list->itemDelegate(), this));
        // Every row is one line of the list's font: the view asks one row
        // for its size instead of every row each time the list opens.
        if (auto *rows = qobject_cast<QListView *>(list))
            rows->setUniformItemSizes(true);
    }
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
