#include "app/sticker_dialog/sticker_dialog.h"
#include "sticker/sticker_preset.h"

#include "app/kit/colour_edit.h"
#include "app/kit/save_dialog.h"
#include "app/kit/screen_room.h"
#include "app/shell/cache_folder.h"
#include "app/sticker_dialog/pack_dialog.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "export/alpha_png.h"
#include "export/animation_decoding.h"
#include "export/clipboard_picture.h"
#include "export/file_output.h"
#include "export/output_format.h"
#include "sticker/emoji_names.h"
#include "sticker/sticker_format_choice.h"

#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIODevice>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {

struct Named {
    QString name;
    QString label;
};

// The lists of the core's tables: no preset first, then every preset; every
// effect. An entry's data is the name the settings file keeps.
QList<Named> presetEntries()
{
    QList<Named> entries{{QString(), customPresetLabel()}};
    for (const StickerPreset &preset : stickerPresets())
        entries.append({preset.name, preset.label});
    return entries;
}

QList<Named> effectEntries()
{
    QList<Named> entries;
    for (const EffectRow &row : effectRows())
        entries.append({row.name, QString::fromUtf8(row.label)});
    return entries;
}

// The preset of entry `index` of presetEntries().
const StickerPreset *presetAtEntry(int index)
{
    return index <= 0 ? nullptr : &stickerPresets().at(std::size_t(index - 1));
}

// The name the settings file and the lists' data keep for a preset.
QString presetKey(const StickerPreset *preset)
{
    return preset ? preset->name : QString();
}
const QList<Named> kMattes{
    {QStringLiteral("transparent"), QStringLiteral("透明边缘")},
    {QStringLiteral("light"), QStringLiteral("浅色背景")},
    {QStringLiteral("dark"), QStringLiteral("深色背景")},
};
const QList<Named> kGrounds{
    {QStringLiteral("light"), QStringLiteral("浅色")},
    {QStringLiteral("dark"), QStringLiteral("深色")},
    {QStringLiteral("checkerboard"), QStringLiteral("棋盘格")},
};
const QList<Named> kRows{
    {QStringLiteral("0"), QStringLiteral("自动")}, {QStringLiteral("1"), QStringLiteral("1")},
    {QStringLiteral("2"), QStringLiteral("2")},    {QStringLiteral("3"), QStringLiteral("3")},
    {QStringLiteral("4"), QStringLiteral("4")},
};
// The grids a chat's row of emoji takes well; the command line takes any.
const QList<Named> kTileGrids{
    {QStringLiteral("auto"), QStringLiteral("自动（一行）")},
    {QStringLiteral("2x1"), QStringLiteral("2 × 1")},
    {QStringLiteral("3x1"), QStringLiteral("3 × 1")},
    {QStringLiteral("4x1"), QStringLiteral("4 × 1")},
    {QStringLiteral("5x1"), QStringLiteral("5 × 1")},
    {QStringLiteral("6x1"), QStringLiteral("6 × 1")},
    {QStringLiteral("2x2"), QStringLiteral("2 × 2")},
    {QStringLiteral("3x2"), QStringLiteral("3 × 2")},
    {QStringLiteral("4x2"), QStringLiteral("4 × 2")},
};
// The gap a chat leaves between emoji posted side by side.
constexpr int kTileGapPx = 4;
// Every preset whose chat shows emoji side by side, by the label shown.
QString tilesOnlyTip()
{
    QStringList labels;
    for (const StickerPreset &preset : stickerPresets())
        if (preset.emojiNames)
            labels << preset.label;
    return QStringLiteral("只有能把表情并排发出的聊天（%1）能拆成多个表情")
        .arg(labels.join(QStringLiteral("、")));
}
const QString kMatteGifOnly =
    QStringLiteral("只有 GIF 动图需要选择边缘：GIF 的像素要么全透明要么不透明，其它格式保留柔和的透明边缘");

const QString kMatteTip =
    QStringLiteral("GIF 的半透明边缘：保持透明，或融进浅色（白色）或深色（#1E1E1E）聊天背景");
// How long the note after a save or a copy stays, as the main window's.
constexpr int kDoneNoteMs = 2000;
// Clauses end after these; a wrapped note may break only there or at a space.
const QString kClauseEnds = QStringLiteral("，、；：。！？）」”");
const QChar kWordJoiner(0x2060);
// The settings file is ~/.config/Quillow/Quillow.conf, named the same
// whether or not an organisation name was set.
const QString kSettingsOwner = QStringLiteral("Quillow");
const QString kGroup = QStringLiteral("sticker/");

bool known(const QList<Named> &table, const QString &name)
{
    return std::any_of(table.begin(), table.end(), [&](const Named &row) { return row.name == name; });
}

void fill(QComboBox *box, const QList<Named> &table)
{
    for (const Named &row : table)
        box->addItem(row.label, row.name);
}

QComboBox *comboBox(const QString &objectName, const QList<Named> &table, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(objectName);
    fill(box, table);
    return box;
}

void select(QComboBox *box, const QString &name)
{
    box->setCurrentIndex(std::max(0, box->findData(name)));
}

QString selected(const QComboBox *box)
{
    return box->currentData().toString();
}

// Enables or disables one entry of a combo box, with the reason as its tip.
void allowEntry(QComboBox *box, int index, bool allowed, const QString &whyNot)
{
    auto *model = qobject_cast<QStandardItemModel *>(box->model());
    if (!model)
        return;
    QStandardItem *item = model->item(index);
    item->setEnabled(allowed);
    item->setToolTip(allowed ? QString() : whyNot);
}

// Roughly the sticker `choices` make of a strip of `strip` pixels, for the
// preview while it is made: the preset's square or box, its longest side,
// or the strip's own size.
QSize boxOf(const StickerChoices &choices, QSize strip)
{
    if (!choices.preset)
        return strip;
    const StickerKind &kind = choices.preset->kind(effectRow(choices.effectMade()).animates);
    if (const std::optional<TileGrid> grid = choices.tileGrid(); grid && grid->columns > 0)
        return QSize(grid->columns * kind.side, grid->rows * kind.side);
    switch (kind.sizeRule) {
    case StickerSizeRule::Square:
        return QSize(kind.side, kind.side);
    case StickerSizeRule::WithinBox:
    case StickerSizeRule::FillsBox:
        return QSize(kind.side, kind.height);
    case StickerSizeRule::LongestExactly:
    case StickerSizeRule::NaturalAtMost:
        break;
    }
    return strip.scaled(QSize(kind.side, kind.side), Qt::KeepAspectRatio)
        .boundedTo(kind.sizeRule == StickerSizeRule::NaturalAtMost ? strip : QSize(kind.side, kind.side));
}

const OutputFileFormat &formatOf(const Sticker &sticker)
{
    Q_ASSERT(sticker.format);
    return *sticker.format;
}

// The percentage an opacity spin box shows for `alpha`, and back.
int opacityPercent(int alpha)
{
    return qRound(alpha * 100 / 255.0);
}

int alphaOfPercent(int percent)
{
    return qRound(percent * 255 / 100.0);
}

QSpinBox *spinBox(const QString &objectName, int low, int high, const QString &suffix, QWidget *parent)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(objectName);
    box->setRange(low, high);
    box->setSuffix(suffix);
    return box;
}

// The file managers' own clipboard types for a copied file. Not
// text/uri-list: on X11 Qt offers every URI list as text/plain too, and a
// chat's text field would paste the path as text.
void offerFile(QMimeData &data, const QUrl &file)
{
    data.setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + file.toEncoded());
    data.setData(QStringLiteral("application/x-kde4-urilist"), file.toEncoded() + "\r\n");
}

// A red that reads on the palette's ground, light or dark.
QColor warningColour(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xFF, 0x6B, 0x6B)
                                                             : QColor(0xC0, 0x1C, 0x1C);
}

void showInColour(QLabel *label, const std::optional<QColor> &colour)
{
    QPalette palette = label->parentWidget()->palette();
    if (colour)
        palette.setColor(QPalette::WindowText, *colour);
    label->setPalette(palette);
}

} // namespace

QString wrappedAtClauses(const QString &text)
{
    QString wrapped;
    wrapped.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        wrapped += text[i];
        if (i + 1 == text.size() || text[i].isSpace() || text[i + 1].isSpace() ||
            kClauseEnds.contains(text[i]) || text[i].isHighSurrogate())
            continue;
        wrapped += kWordJoiner;
    }
    return wrapped;
}

StickerChoices StickerChoices::load(QSettings &settings)
{
    StickerChoices choices;
    const auto text = [&](const char *key, const QString &fallback, const QList<Named> &table) {
        const QString value = settings.value(kGroup + QLatin1String(key), fallback).toString();
        return known(table, value) ? value : fallback;
    };
    const QString preset = text("preset", presetKey(choices.preset), presetEntries());
    choices.preset = preset.isEmpty() ? nullptr : stickerPresetNamed(preset);
    const QString effect = text("effect", effectName(choices.effect), effectEntries());
    for (const EffectRow &row : effectRows())
        if (row.name == effect)
            choices.effect = row.effect;
    choices.format = outputFormatNamed(settings.value(kGroup + QLatin1String("format")).toString());
    choices.outline = settings.value(kGroup + QLatin1String("outline"), choices.outline).toBool();
    const QColor colour(settings.value(kGroup + QLatin1String("outlineColour")).toString());
    if (colour.isValid())
        choices.outlineColour = colour;
    const int width = settings.value(kGroup + QLatin1String("outlineWidth"), choices.outlineWidth).toInt();
    if (width >= 1 && width <= kMaxOutlineWidth)
        choices.outlineWidth = width;
    choices.outlineEdge = settings.value(kGroup + QLatin1String("outlineEdge"), choices.outlineEdge).toBool();
    choices.shadow = settings.value(kGroup + QLatin1String("shadow"), choices.shadow).toBool();
    const QColor shadowColour(settings.value(kGroup + QLatin1String("shadowColour")).toString());
    if (shadowColour.isValid())
        choices.shadowColour = shadowColour;
    const QPoint offset =
        settings.value(kGroup + QLatin1String("shadowOffset"), choices.shadowOffset).toPoint();
    if (std::abs(offset.x()) <= kMaxShadowOffset && std::abs(offset.y()) <= kMaxShadowOffset)
        choices.shadowOffset = offset;
    const int blur = settings.value(kGroup + QLatin1String("shadowBlur"), choices.shadowBlur).toInt();
    if (blur >= 0 && blur <= kMaxShadowBlur)
        choices.shadowBlur = blur;
    choices.matte = text("matte", choices.matte, kMattes);
    choices.rows = text("rows", QStringLiteral("0"), kRows).toInt();
    const QString tiles = settings.value(kGroup + QLatin1String("tiles")).toString();
    if (known(kTileGrids, tiles))
        choices.tiles = tiles;
    choices.tileName = settings.value(kGroup + QLatin1String("tileName")).toString();
    const QString ground = text("ground", QStringLiteral("checkerboard"), kGrounds);
    choices.ground = ground == QLatin1String("light")  ? PreviewGround::Light
                     : ground == QLatin1String("dark") ? PreviewGround::Dark
                                                       : PreviewGround::Checkerboard;
    return choices;
}

void StickerChoices::save(QSettings &settings) const
{
    settings.setValue(kGroup + QLatin1String("preset"), presetKey(preset));
    settings.setValue(kGroup + QLatin1String("effect"), effectName(effect));
    settings.setValue(kGroup + QLatin1String("format"), format ? QString(format->name) : QString());
    settings.setValue(kGroup + QLatin1String("outline"), outline);
    settings.setValue(kGroup + QLatin1String("outlineColour"), outlineColour.name(QColor::HexRgb));
    settings.setValue(kGroup + QLatin1String("outlineWidth"), outlineWidth);
    settings.setValue(kGroup + QLatin1String("outlineEdge"), outlineEdge);
    settings.setValue(kGroup + QLatin1String("shadow"), shadow);
    settings.setValue(kGroup + QLatin1String("shadowColour"), shadowColour.name(QColor::HexArgb));
    settings.setValue(kGroup + QLatin1String("shadowOffset"), shadowOffset);
    settings.setValue(kGroup + QLatin1String("shadowBlur"), shadowBlur);
    settings.setValue(kGroup + QLatin1String("matte"), matte);
    settings.setValue(kGroup + QLatin1String("rows"), QString::number(rows));
    settings.setValue(kGroup + QLatin1String("tiles"), tiles);
    settings.setValue(kGroup + QLatin1String("tileName"), tileName);
    settings.setValue(kGroup + QLatin1String("ground"), kGrounds.at(int(ground)).name);
}

Effect StickerChoices::effectMade() const
{
    return presetAnimates(preset) ? effect : Effect::Still;
}

std::vector<const OutputFileFormat *> StickerChoices::formatsOffered() const
{
    return stickerFormatsOffered(preset, effectRow(effectMade()).animates);
}

const OutputFileFormat &StickerChoices::formatMade() const
{
    const std::vector<const OutputFileFormat *> offered = formatsOffered();
    Q_ASSERT(!offered.empty());
    for (const OutputFileFormat *offer : offered)
        if (offer == format)
            return *offer;
    return defaultStickerFormat(preset, effectMade(), QStringView());
}

StickerOptions StickerChoices::options() const
{
    StickerOptions options;
    options.preset = preset;
    options.effect = effectMade();
    const OutputFileFormat &made = formatMade();
    options.format = &made;
    options.look.outlineWidth = outline ? outlineWidth : 0;
    options.look.outlineColour = outlineColour;
    options.look.edgeWidth = outline && outlineEdge ? readableStickerLook().edgeWidth : 0;
    options.look.shadow = shadow;
    options.look.shadowColour = shadowColour;
    options.look.shadowOffset = shadowOffset;
    options.look.shadowBlur = shadowBlur;
    if (made.takesMatte && matte != QLatin1String("transparent"))
        options.matte = matte == QLatin1String("light") ? kLightMatte : kDarkMatte;
    options.seed = kWindowStickerSeed;
    options.rows = rows;
    return options;
}

std::optional<TileGrid> StickerChoices::tileGrid() const
{
    if (tiles.isEmpty() || !preset || !preset->emojiNames)
        return std::nullopt;
    return parseTileGrid(tiles);
}

StickerDialog::StickerDialog(StripLayout layout, QColor ink, QString phrase, ErrorReporter report,
                             QWidget *parent, StickerMaker maker)
    : QDialog(parent), m_layout(std::move(layout)), m_ink(std::move(ink)), m_phrase(std::move(phrase)),
      m_report(report ? std::move(report) : ErrorReporter(showErrorReport)), m_maker(std::move(maker))
{
    setObjectName(QStringLiteral("StickerDialog"));
    setWindowTitle(QStringLiteral("导出贴纸"));
    m_workers.setMaxThreadCount(1);
    buildControls();
    QSettings settings(kSettingsOwner, kSettingsOwner);
    restore(StickerChoices::load(settings));
    startMaking();
}

StickerDialog::~StickerDialog()
{
    if (m_cancel)
        m_cancel->store(true);
    m_workers.waitForDone();
}

void StickerDialog::buildControls()
{
    auto *phrase = new QLabel(m_phrase, this);
    phrase->setObjectName(QStringLiteral("lblPhrase"));
    phrase->setTextFormat(Qt::PlainText);
    phrase->setTextInteractionFlags(Qt::TextSelectableByMouse);
    phrase->setToolTip(QStringLiteral("贴纸用的是主窗口最近一次预览的短语和颜色"));
    m_preset = comboBox(QStringLiteral("cbbPreset"), presetEntries(), this);
    m_effect = comboBox(QStringLiteral("cbbEffect"), effectEntries(), this);
    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("cbbFormat"));
    m_outline = new QCheckBox(QStringLiteral("描边"), this);
    m_outline->setObjectName(QStringLiteral("chkOutline"));
    m_outlineColour = new ColourEdit(QStringLiteral("edtOutlineColour"), fromQColor(Qt::white), this);
    m_outlineWidth =
        spinBox(QStringLiteral("spnOutlineWidth"), 1, kMaxOutlineWidth, QStringLiteral(" 像素"), this);
    m_rows = comboBox(QStringLiteral("cbbRows"), kRows, this);
    m_rows->setToolTip(QStringLiteral("字排成几行（按阅读顺序，字仍逐个变大）；自动取让最小的字最大的行数"));
    m_tilesOn = new QCheckBox(QStringLiteral("拆成多个表情"), this);
    m_tilesOn->setObjectName(QStringLiteral("chkTiles"));
    m_tileGrid = comboBox(QStringLiteral("cbbTileGrid"), kTileGrids, this);
    m_tileGrid->setToolTip(QStringLiteral("列 × 行；自动让字按表情的整个高度排成一行，需要几个就拆几个"));
    m_tileName = new QLineEdit(this);
    m_tileName->setObjectName(QStringLiteral("edtTileName"));
    m_tileName->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('m')) * 14);
    m_outlineEdge = new QCheckBox(QStringLiteral("深色细边"), this);
    m_outlineEdge->setObjectName(QStringLiteral("chkOutlineEdge"));
    m_outlineEdge->setToolTip(QStringLiteral("描边外再加一圈深色细边：浅色的描边在白色的聊天背景上也看得清"));
    m_matte = comboBox(QStringLiteral("cbbMatte"), kMattes, this);
    m_ground = comboBox(QStringLiteral("cbbGround"), kGrounds, this);

    auto *outlineRow = new QHBoxLayout;
    outlineRow->addWidget(m_outline);
    outlineRow->addWidget(m_outlineColour);
    outlineRow->addWidget(m_outlineWidth);
    outlineRow->addWidget(m_outlineEdge);
    outlineRow->addStretch();

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("短语："), phrase);
    form->addRow(QStringLiteral("预设："), m_preset);
    form->addRow(QStringLiteral("效果："), m_effect);
    form->addRow(QStringLiteral("格式："), m_format);
    auto *tilesRow = new QHBoxLayout;
    tilesRow->addWidget(m_tilesOn);
    tilesRow->addWidget(m_tileGrid);
    tilesRow->addWidget(m_tileName);
    tilesRow->addStretch();
    form->addRow(QStringLiteral("行数："), m_rows);
    form->addRow(QStringLiteral("表情："), tilesRow);
    form->addRow(QStringLiteral("轮廓："), outlineRow);
    form->addRow(QStringLiteral("投影："), buildShadowControls());
    form->addRow(QStringLiteral("GIF 边缘："), m_matte);
    form->addRow(QStringLiteral("预览背景："), m_ground);

    m_pixels = new QLabel(this);
    m_pixels->setObjectName(QStringLiteral("lblPixels"));
    m_bytes = new QLabel(this);
    m_bytes->setObjectName(QStringLiteral("lblBytes"));
    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("lblNotes"));
    m_notes->setWordWrap(true);
    for (QLabel *label : {m_pixels, m_bytes, m_notes})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *meter = new QVBoxLayout;
    meter->addLayout(form);
    meter->addSpacing(12);
    meter->addWidget(m_pixels);
    meter->addWidget(m_bytes);
    meter->addWidget(m_notes);
    meter->addStretch();

    m_player = new FramePlayer(this);
    m_player->setObjectName(QStringLiteral("plyPreview"));
    // Close to the sticker's size before the first one is made, so the
    // dialog seldom has to grow once it is.
    m_player->setExpectedSize(QSize(m_layout.width, m_layout.height));
    connect(m_player, &FramePlayer::scaleChanged, this, &StickerDialog::showNotes);

    auto *body = new QHBoxLayout;
    body->addLayout(meter);
    body->addWidget(m_player, 1);

    auto *buttons = new QDialogButtonBox(this);
    m_saveButton = buttons->addButton(QStringLiteral("保存…"), QDialogButtonBox::ActionRole);
    m_saveButton->setObjectName(QStringLiteral("btnSaveSticker"));
    m_copyButton = buttons->addButton(QStringLiteral("复制"), QDialogButtonBox::ActionRole);
    m_copyButton->setObjectName(QStringLiteral("btnCopySticker"));
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnClose"));
    // The default button: Return anywhere in the dialog saves.
    m_saveButton->setDefault(true);
    m_saveButton->setAutoDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &StickerDialog::save);
    connect(m_copyButton, &QPushButton::clicked, this, &StickerDialog::copy);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QPushButton *makePack = addPackButton(buttons, this, m_layout, m_phrase, m_report);
    // Tab follows the form as it reads, top to bottom and left to right;
    // the widgets are made in another order (the shadow's in a helper).
    const QList<QWidget *> reading = {
        m_preset,       m_effect,        m_format,        m_rows,         m_tilesOn,     m_tileGrid,
        m_tileName,     m_outline,       m_outlineColour, m_outlineWidth, m_outlineEdge, m_shadow,
        m_shadowColour, m_shadowOpacity, m_shadowX,       m_shadowY,      m_shadowBlur,  m_matte,
        m_ground,       m_saveButton,    m_copyButton,    makePack,       close};
    for (qsizetype at = 1; at < reading.size(); ++at)
        setTabOrder(reading[at - 1], reading[at]);

    // A label rather than a pop-up, as the main window's: it never takes the
    // focus, and goes by itself.
    m_done = new QLabel(this);
    m_done->setObjectName(QStringLiteral("lblDone"));
    m_doneTimer = new QTimer(this);
    m_doneTimer->setSingleShot(true);
    m_doneTimer->setInterval(kDoneNoteMs);
    connect(m_doneTimer, &QTimer::timeout, m_done, &QLabel::clear);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_done, 1);
    bottom->addWidget(buttons);

    auto *page = new QVBoxLayout(this);
    page->addLayout(body, 1);
    page->addLayout(bottom);

    connect(m_effect, &QComboBox::currentIndexChanged, this, [this] {
        m_wantedEffect = effectRows()[std::size_t(std::max(0, m_effect->currentIndex()))].effect;
        choicesChanged();
    });
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] {
        const std::vector<const OutputFileFormat *> offered = choices().formatsOffered();
        const int index = m_format->currentIndex();
        if (index >= 0 && std::size_t(index) < offered.size())
            m_wantedFormat = offered[std::size_t(index)];
        choicesChanged();
    });
    for (QComboBox *box : {m_preset, m_matte, m_rows, m_tileGrid})
        connect(box, &QComboBox::currentIndexChanged, this, &StickerDialog::choicesChanged);
    for (QCheckBox *box : {m_outline, m_outlineEdge, m_shadow, m_tilesOn})
        connect(box, &QCheckBox::toggled, this, &StickerDialog::choicesChanged);
    for (ColourEdit *edit : {m_outlineColour, m_shadowColour})
        connect(edit, &ColourEdit::colourChanged, this, &StickerDialog::choicesChanged);
    for (QSpinBox *box : {m_outlineWidth, m_shadowOpacity, m_shadowX, m_shadowY, m_shadowBlur})
        connect(box, &QSpinBox::valueChanged, this, &StickerDialog::choicesChanged);
    connect(m_ground, &QComboBox::currentIndexChanged, this, [this] {
        m_player->setGround(choices().ground);
        QSettings settings(kSettingsOwner, kSettingsOwner);
        choices().save(settings);
    });
    // The name changes no picture: it is kept, and used when saving.
    connect(m_tileName, &QLineEdit::textEdited, this, [this] {
        QSettings settings(kSettingsOwner, kSettingsOwner);
        choices().save(settings);
    });
}

// The shadow as the command line takes it: colour with its opacity, offset
// and blur.
QLayout *StickerDialog::buildShadowControls()
{
    m_shadow = new QCheckBox(QStringLiteral("阴影"), this);
    m_shadow->setObjectName(QStringLiteral("chkShadow"));
    m_shadowColour = new ColourEdit(QStringLiteral("edtShadowColour"), fromQColor(Qt::black), this);
    m_shadowOpacity = spinBox(QStringLiteral("spnShadowOpacity"), 0, 100, QStringLiteral(" %"), this);
    m_shadowOpacity->setToolTip(QStringLiteral("阴影的不透明度"));
    m_shadowX = spinBox(QStringLiteral("spnShadowX"), -kMaxShadowOffset, kMaxShadowOffset, QString(), this);
    m_shadowX->setToolTip(QStringLiteral("阴影向右偏移的像素（负数向左）"));
    m_shadowY = spinBox(QStringLiteral("spnShadowY"), -kMaxShadowOffset, kMaxShadowOffset, QString(), this);
    m_shadowY->setToolTip(QStringLiteral("阴影向下偏移的像素（负数向上）"));
    m_shadowBlur = spinBox(QStringLiteral("spnShadowBlur"), 0, kMaxShadowBlur, QStringLiteral(" 像素"), this);
    m_shadowBlur->setToolTip(QStringLiteral("阴影边缘模糊的半径"));

    auto *look = new QHBoxLayout;
    look->addWidget(m_shadow);
    look->addWidget(m_shadowColour);
    look->addWidget(m_shadowOpacity);
    look->addStretch();
    auto *place = new QHBoxLayout;
    place->addWidget(new QLabel(QStringLiteral("偏移"), this));
    place->addWidget(m_shadowX);
    place->addWidget(m_shadowY);
    place->addSpacing(6);
    place->addWidget(new QLabel(QStringLiteral("模糊"), this));
    place->addWidget(m_shadowBlur);
    place->addStretch();
    auto *rows = new QVBoxLayout;
    rows->addLayout(look);
    rows->addLayout(place);
    return rows;
}

StickerChoices StickerDialog::choices() const
{
    StickerChoices choices;
    choices.preset = presetAtEntry(m_preset->currentIndex());
    choices.effect = m_wantedEffect;
    choices.format = m_wantedFormat;
    choices.outline = m_outline->isChecked();
    choices.outlineColour = toQColor(m_outlineColour->colour());
    choices.outlineWidth = m_outlineWidth->value();
    choices.outlineEdge = m_outlineEdge->isChecked();
    choices.shadow = m_shadow->isChecked();
    choices.shadowColour = toQColor(m_shadowColour->colour());
    choices.shadowColour.setAlpha(alphaOfPercent(m_shadowOpacity->value()));
    choices.shadowOffset = QPoint(m_shadowX->value(), m_shadowY->value());
    choices.shadowBlur = m_shadowBlur->value();
    choices.matte = selected(m_matte);
    choices.ground = PreviewGround(std::max(0, m_ground->currentIndex()));
    choices.rows = selected(m_rows).toInt();
    choices.tiles = m_tilesOn->isChecked() ? selected(m_tileGrid) : QString();
    choices.tileName = m_tileName->text().trimmed();
    return choices;
}

void StickerDialog::restore(const StickerChoices &choices)
{
    m_restoring = true;
    m_wantedEffect = choices.effect;
    m_wantedFormat = choices.format;
    select(m_preset, presetKey(choices.preset));
    m_outline->setChecked(choices.outline);
    m_outlineColour->setColour(fromQColor(choices.outlineColour));
    m_outlineWidth->setValue(choices.outlineWidth);
    m_outlineEdge->setChecked(choices.outlineEdge);
    m_shadow->setChecked(choices.shadow);
    m_shadowColour->setColour(fromQColor(choices.shadowColour));
    m_shadowOpacity->setValue(opacityPercent(choices.shadowColour.alpha()));
    m_shadowX->setValue(choices.shadowOffset.x());
    m_shadowY->setValue(choices.shadowOffset.y());
    m_shadowBlur->setValue(choices.shadowBlur);
    select(m_matte, choices.matte);
    select(m_rows, QString::number(choices.rows));
    m_tilesOn->setChecked(!choices.tiles.isEmpty());
    if (!choices.tiles.isEmpty())
        select(m_tileGrid, choices.tiles);
    m_tileName->setText(choices.tileName);
    m_ground->setCurrentIndex(int(choices.ground));
    m_player->setGround(choices.ground);
    m_restoring = false;
    updateAllowedChoices();
}

// The lists show what the preset allows; where it allows the effect and the
// format the user chose last, those are shown again.
void StickerDialog::updateAllowedChoices()
{
    const StickerChoices now = choices();
    const StickerPreset *preset = now.preset;
    const bool animates = presetAnimates(preset);
    const QString refusal = preset ? preset->animatedRefusal : QString();
    for (int i = 1; i < m_effect->count(); ++i)
        allowEntry(m_effect, i, animates, refusal);
    m_effect->setToolTip(animates ? QString() : refusal);
    {
        const QSignalBlocker quiet(m_effect);
        select(m_effect, effectName(now.effectMade()));
    }

    const OutputFileFormat &made = now.formatMade();
    {
        const QSignalBlocker quiet(m_format);
        m_format->clear();
        for (const OutputFileFormat *format : now.formatsOffered())
            m_format->addItem(stickerFormatLabel(*format), format->name.toString());
        select(m_format, made.name.toString());
    }
    m_format->setEnabled(m_format->count() > 1);
    m_format->setToolTip(
        m_format->count() > 1
            ? QStringLiteral("保存的文件格式；保存时输入的文件名后缀也能选择格式")
            : QStringLiteral("%1只接受 %2").arg(m_preset->currentText(), stickerFormatLabel(made)));

    m_matte->setEnabled(made.takesMatte);
    m_matte->setToolTip(made.takesMatte ? kMatteTip : kMatteGifOnly);
    const bool namesEmoji = preset && preset->emojiNames;
    // A box the preset cannot use shows unticked, not ticked in grey, which
    // would say tiles are made.
    if (!namesEmoji && m_tilesOn->isChecked()) {
        const QSignalBlocker quiet(m_tilesOn);
        m_tilesOn->setChecked(false);
    }
    m_tilesOn->setEnabled(namesEmoji);
    m_tilesOn->setToolTip(namesEmoji ? QStringLiteral("把贴纸拆成几个方形表情，在聊天里并排发出")
                                     : tilesOnlyTip());
    m_tileGrid->setEnabled(now.tileGrid().has_value());
    m_tileName->setEnabled(now.tileGrid().has_value());
    if (namesEmoji) {
        // The default shows until a name is typed, as the chat will take it.
        m_tileName->setPlaceholderText(
            tileBaseNameFor(m_tilesSavedAs, m_tiles ? int(m_tiles->tiles.size()) : 1, QString()));
        m_tileName->setToolTip(
            QStringLiteral("表情名：%1；不填则取保存的文件名，不符合时用 %2")
                .arg(QString::fromUtf8(preset->emojiNames->description), fallbackTileName()));
    }
    // Tiles lay the shout out in their own rows.
    m_rows->setEnabled(!now.tileGrid());
    m_outlineColour->setEnabled(now.outline);
    m_outlineWidth->setEnabled(now.outline);
    m_outlineEdge->setEnabled(now.outline);
    for (QWidget *part : std::initializer_list<QWidget *>{m_shadowColour, m_shadowOpacity, m_shadowX,
                                                          m_shadowY, m_shadowBlur})
        part->setEnabled(now.shadow);
}

void StickerDialog::choicesChanged()
{
    if (m_restoring)
        return;
    updateAllowedChoices();
    QSettings settings(kSettingsOwner, kSettingsOwner);
    choices().save(settings);
    startMaking();
}

void StickerDialog::startMaking()
{
    if (m_cancel)
        m_cancel->store(true);
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancel;
    const int generation = ++m_generation;
    m_making = true;
    m_player->showMaking(boxOf(choices(), QSize(m_layout.width, m_layout.height)));
    showMeter();

    struct Result {
        std::optional<Sticker> sticker;
        std::optional<StickerTiles> tiles;
        Animation played;
        QString error;
    };
    auto *watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        // A sticker of older choices, finished or stopped, is never shown.
        if (generation != m_generation)
            return;
        Result result = watcher->result();
        stickerMade(std::move(result.sticker), std::move(result.tiles), std::move(result.played),
                    result.error);
    });
    const StickerChoices now = choices();
    watcher->setFuture(QtConcurrent::run(&m_workers, [maker = m_maker, layout = m_layout, ink = m_ink,
                                                      options = now.options(), grid = now.tileGrid(),
                                                      cancel] {
        try {
            if (grid) {
                StickerTiles tiles = makeStickerTiles(layout, ink, options, *grid, cancel.get());
                // The tiles read back, side by side as a chat shows them.
                std::vector<Animation> pieces;
                for (const Sticker &tile : tiles.tiles)
                    pieces.push_back(decodeAnimation(tile.bytes, formatOf(tile)));
                Animation played = tilesSideBySide(pieces, tiles.grid, kTileGapPx);
                Sticker first = tiles.tiles.front();
                first.warnings = tiles.warnings;
                return Result{std::move(first), std::move(tiles), std::move(played), QString()};
            }
            Sticker sticker = maker(layout, ink, options, cancel.get());
            // What plays is the file read back, as the chat will read it.
            Animation played = decodeAnimation(sticker.bytes, formatOf(sticker));
            return Result{std::move(sticker), std::nullopt, std::move(played), QString()};
        } catch (const StickerCancelled &) {
            return Result{};
        } catch (const std::exception &error) {
            return Result{std::nullopt, std::nullopt, Animation(), errorReportText(innermostMessage(error))};
        } catch (...) {
            return Result{std::nullopt, std::nullopt, Animation(), QStringLiteral("无法生成贴纸")};
        }
    }));
}

void StickerDialog::stickerMade(std::optional<Sticker> sticker, std::optional<StickerTiles> tiles,
                                Animation played, const QString &error)
{
    m_making = false;
    m_sticker = std::move(sticker);
    m_tiles = m_sticker ? std::move(tiles) : std::nullopt;
    m_played = m_sticker ? std::move(played) : Animation();
    m_error = m_sticker ? QString() : error;
    m_player->setAnimation(m_played);
    showMeter();
    growToShowSticker();
    const Pending pending = std::exchange(m_pending, Pending::Nothing);
    emit stickerUpdated();
    if (pending != Pending::Nothing)
        carryOut(pending);
}

void StickerDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    growToShowSticker();
}

// Grows the dialog, never beyond the screen's free area, until the player
// shows the sticker at its true size; never shrinks it.
void StickerDialog::growToShowSticker()
{
    const QScreen *screen = this->screen();
    if (!isVisible() || !screen)
        return;
    const QSize missing = (m_player->sizeHint() - m_player->size()).expandedTo(QSize(0, 0));
    if (missing.width() == 0 && missing.height() == 0)
        return;
    const QRect room = screen->availableGeometry();
    const QSize decoration = frameGeometry().size() - geometry().size();
    const QSize grown = (size() + missing).boundedTo(room.size() - decoration).expandedTo(size());
    if (grown == size())
        return;
    resize(grown);
    move(topLeftKeptIn(QRect(frameGeometry().topLeft(), grown + decoration), room));
}

void StickerDialog::showMeter()
{
    if (m_making) {
        // The size line of the sticker before would read as this one's.
        m_pixels->clear();
        m_bytes->setText(QStringLiteral("正在生成…"));
        showInColour(m_bytes, std::nullopt);
    } else if (!m_sticker) {
        m_pixels->clear();
        m_bytes->clear();
    } else {
        // Of tiles, the largest: the cap holds for each.
        const Sticker &sticker = m_tiles ? *std::max_element(m_tiles->tiles.begin(), m_tiles->tiles.end(),
                                                             [](const Sticker &a, const Sticker &b) {
                                                                 return a.bytes.size() < b.bytes.size();
                                                             })
                                         : *m_sticker;
        QString pixels = QStringLiteral("%1 × %2 像素").arg(sticker.size.width()).arg(sticker.size.height());
        if (m_tiles)
            pixels = QStringLiteral("%1 个表情（%2 × %3），每个 %4")
                         .arg(m_tiles->tiles.size())
                         .arg(m_tiles->grid.columns)
                         .arg(m_tiles->grid.rows)
                         .arg(pixels);
        if (sticker.frames > 1)
            pixels += QStringLiteral("，%1 帧").arg(sticker.frames);
        m_pixels->setText(pixels);
        const bool over = sticker.cap && sticker.bytes.size() > *sticker.cap;
        // Sizes are read against the chosen app's cap, as that app states it.
        const StickerChoices now = choices();
        const StickerKind *kind =
            now.preset ? &now.preset->kind(effectRow(now.effectMade()).animates) : nullptr;
        const ByteCap *cap = kind ? &kind->cap : nullptr;
        const QString size = sizeInUnitOf(sticker.bytes.size(), cap);
        if (!sticker.cap)
            m_bytes->setText(size);
        else
            m_bytes->setText(
                size + QStringLiteral(" / ") +
                (cap && *sticker.cap == cap->bytes() ? cap->text() : sizeInUnitOf(*sticker.cap, cap)));
        m_bytes->setToolTip(m_tiles ? QStringLiteral("最大的一个表情的文件大小 / 该应用的上限")
                            : sticker.cap ? QStringLiteral("文件大小 / 该应用的上限")
                                          : QStringLiteral("文件大小"));
        showInColour(m_bytes, over ? std::optional(warningColour(palette())) : std::nullopt);
    }
    m_saveButton->setEnabled(m_making || m_sticker);
    m_copyButton->setEnabled(m_making || m_sticker);
    showNotes();
}

void StickerDialog::showNotes()
{
    QStringList notes;
    if (!m_making && !m_error.isEmpty())
        notes << m_error;
    if (!m_making && m_sticker) {
        notes << m_sticker->warnings;
        const QString fitted = m_tiles ? m_tiles->fitted : m_sticker->fitted;
        if (!fitted.isEmpty())
            notes << fitted;
    }
    if (m_player->scaleShown() < 1)
        notes << QStringLiteral("预览已缩小到 %1%，保存的文件是原大小。")
                     .arg(qRound(m_player->scaleShown() * 100));
    for (QString &note : notes)
        note = wrappedAtClauses(note);
    m_notes->setText(notes.join(QLatin1Char('\n')));
    showInColour(m_notes, m_error.isEmpty() ? std::nullopt : std::optional(warningColour(palette())));
}

void StickerDialog::showDone(const QString &note)
{
    m_done->setText(note);
    m_doneTimer->start();
}

SaveDialog *StickerDialog::saveDialog()
{
    return keptSaveDialog(m_saveDialog, this, QStringLiteral("StickerSaveDialog"));
}

void StickerDialog::save()
{
    carryOut(Pending::Save);
}

void StickerDialog::copy()
{
    carryOut(Pending::Copy);
}

void StickerDialog::carryOut(Pending action)
{
    if (m_making) {
        // Done once the sticker of the current choices is ready.
        m_pending = action;
        return;
    }
    runGuarded(this, m_report, [this, action] {
        if (!m_sticker)
            throw QuillowError(m_error.isEmpty() ? QStringLiteral("没有可导出的贴纸") : m_error);
        // A copy: the sticker on show may change while the file dialog is open.
        const Sticker sticker = *m_sticker;
        if (m_tiles) {
            const StickerTiles tiles = *m_tiles;
            if (action == Pending::Copy)
                copyPasteText(tiles);
            else if (action == Pending::Save)
                askWhereAndSaveTiles(tiles);
            return;
        }
        switch (action) {
        case Pending::Copy:
            copyToClipboard(sticker);
            break;
        case Pending::Save:
            askWhereAndSave(sticker);
            break;
        case Pending::SaveTo:
            writeSticker(m_pendingPath, sticker);
            break;
        case Pending::Nothing:
            break;
        }
    });
}

void StickerDialog::copyToClipboard(const Sticker &sticker)
{
    auto data = std::make_unique<QMimeData>();
    data->setData(QString(sticker.format->mimeType), sticker.bytes);
    // The whole shout for programs that take only PNG: the file's last
    // frame, as it shows once the animation has played.
    if (sticker.format->mimeType != kPngMimeType && !m_played.frames.empty()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        writeAlphaPng(m_played.frames.back().image, buffer);
        data->setData(kPngMimeType, png);
    }
    offerFile(*data,
              QUrl::fromLocalFile(writeCacheFile(m_phrase, QString(sticker.format->suffix), sticker.bytes)));
    QGuiApplication::clipboard()->setMimeData(data.release());
    showDone(QStringLiteral("已复制到剪贴板"));
}

void StickerDialog::askWhereAndSave(const Sticker &sticker)
{
    const std::vector<const OutputFileFormat *> offered = choices().formatsOffered();
    const OutputFileFormat &shown = formatOf(sticker);
    QStringList filters;
    for (const OutputFileFormat *format : offered)
        filters << stickerFormatFilter(*format);
    SaveDialog *dialog = saveDialog();
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(stickerFormatFilter(shown));
    // No default suffix: the rule adds the suffix of the filter on show to a
    // name without one of the formats' own.
    dialog->setDefaultSuffix(QString());
    const auto filterFormat = [&]() -> const OutputFileFormat & {
        const qsizetype index = filters.indexOf(dialog->selectedNameFilter());
        return index >= 0 ? *offered[std::size_t(index)] : shown;
    };
    dialog->setNameRule(
        [&](const QString &path) { return stickerFileFor(path, offered, filterFormat()).path; });
    dialog->selectFile(fileNameFromPhrase(m_phrase) + QLatin1Char('.') + shown.suffix);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QString chosen = accepted ? dialog->chosenFile() : QString();
    const StickerFile file =
        chosen.isEmpty() ? StickerFile() : stickerFileFor(chosen, offered, filterFormat());
    dialog->setNameRule({});
    if (!file.format)
        return;
    if (file.format == &shown) {
        writeSticker(file.path, sticker);
        return;
    }
    // The name asks for another format the preset takes: the sticker is
    // made in it, shown, and then saved.
    select(m_format, file.format->name.toString());
    m_pendingPath = file.path;
    carryOut(Pending::SaveTo);
}

void StickerDialog::writeSticker(const QString &path, const Sticker &sticker)
{
    // The choices may have changed while the sticker for this name was made.
    const OutputFileFormat &format = formatOf(sticker);
    if (stickerFileFor(path, {&format}, format).path != path)
        throw QuillowError(QStringLiteral("贴纸现在是 %1 格式，与文件名“%2”不符，没有保存")
                               .arg(stickerFormatLabel(format), QFileInfo(path).fileName()));
    writeBytesReplacing(path, sticker.bytes);
    showDone(QStringLiteral("已保存为 %1").arg(QFileInfo(path).fileName()));
}

void StickerDialog::askWhereAndSaveTiles(const StickerTiles &tiles)
{
    const OutputFileFormat &format = formatOf(tiles.tiles.front());
    SaveDialog *dialog = saveDialog();
    dialog->setNameFilters({stickerFormatFilter(format)});
    dialog->setDefaultSuffix(QString());
    dialog->setNameRule([&](const QString &path) { return stickerFileFor(path, {&format}, format).path; });
    // The name the files are numbered after: "shout.gif" is saved as
    // shout-1.gif, shout-2.gif and so on, in the folder chosen.
    dialog->selectFile(QFileInfo(m_tilesSavedAs).completeBaseName().isEmpty()
                           ? fileNameFromPhrase(m_phrase) + QLatin1Char('.') + format.suffix
                           : QFileInfo(m_tilesSavedAs).fileName());
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QString chosen = accepted ? dialog->chosenFile() : QString();
    dialog->setNameRule({});
    if (chosen.isEmpty())
        return;
    const QString path = stickerFileFor(chosen, {&format}, format).path;
    const EmojiNameRule &names = *choices().preset->emojiNames;
    const int count = int(tiles.tiles.size());
    const QString base = tileBaseNameFor(path, count, choices().tileName);
    std::vector<FileContent> files;
    for (int index = 0; index < count; ++index)
        files.push_back({tileFilePath(names, path, base, index + 1), tiles.tiles[std::size_t(index)].bytes});
    writeFilesReplacing(files);
    m_tilesSavedAs = path;
    updateAllowedChoices();
    showDone(QStringLiteral("已保存 %1 个表情：%2 … %3")
                 .arg(files.size())
                 .arg(QFileInfo(files.front().path).fileName(), QFileInfo(files.back().path).fileName()));
}

QString StickerDialog::tileBaseNameFor(const QString &savedAs, int count, const QString &typed) const
{
    // Before any save, the file name the save dialog would propose.
    const QString named = savedAs.isEmpty() ? fileNameFromPhrase(m_phrase) : savedAs;
    const StickerChoices now = choices();
    Q_ASSERT(now.preset && now.preset->emojiNames);
    return tileBaseName(*now.preset->emojiNames, typed, named, count);
}

// What pastes the tiles side by side once they are uploaded to the chat under
// the names they were saved with (or would be saved with).
void StickerDialog::copyPasteText(const StickerTiles &tiles)
{
    const int count = int(tiles.tiles.size());
    QGuiApplication::clipboard()->setText(tilePasteText(
        *choices().preset->emojiNames, tileBaseNameFor(m_tilesSavedAs, count, choices().tileName), count));
    showDone(QStringLiteral("已复制粘贴用的文字"));
}
