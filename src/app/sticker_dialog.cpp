#include "app/sticker_dialog.h"
#include "export/sticker_preset.h"

#include "app/cache_folder.h"
#include "app/colour_edit.h"
#include "app/save_dialog.h"
#include "composition/quillow_error.h"
#include "export/file_output.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIODevice>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {

struct Named {
    QString name;
    QString label;
};

const QList<Named> kPresets{
    {QString(), QStringLiteral("自定义")},
    {QStringLiteral("wechat"), QStringLiteral("微信")},
    {QStringLiteral("qq"), QStringLiteral("QQ")},
    {QStringLiteral("telegram"), QStringLiteral("Telegram 贴纸")},
    {QStringLiteral("discord-emoji"), QStringLiteral("Discord 表情")},
    {QStringLiteral("discord-sticker"), QStringLiteral("Discord 贴纸")},
    {QStringLiteral("slack"), QStringLiteral("Slack 表情")},
};
const QList<Named> kEffects{
    {QStringLiteral("still"), QStringLiteral("静止")},
    {QStringLiteral("reveal"), QStringLiteral("逐字出现")},
    {QStringLiteral("shake"), QStringLiteral("抖动")},
    {QStringLiteral("reveal-shake"), QStringLiteral("出现后抖动")},
};
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
// The presets whose animated stickers are GIFs; the others animate as APNG.
const QStringList kGifPresets{QStringLiteral("wechat"), QStringLiteral("qq"), QStringLiteral("discord-emoji"),
                              QStringLiteral("slack")};

const QString kTelegramStillOnly = QStringLiteral("Telegram 的动态贴纸必须是 WEBM 视频，这里只能做静态贴纸");
const QString kMatteGifOnly =
    QStringLiteral("只有 GIF 动图需要选择边缘：GIF 的像素要么全透明要么不透明，其它格式保留柔和的透明边缘");

constexpr int kMaxOutlineWidth = 12;
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

// `bytes` in the unit a cap is published in: a "KB" is 1000 bytes, while a
// cap stated in "KiB" or "MiB" counts in 1024. Whole units, rounded up, so a
// file just over a cap never reads as equal to it.
QString sizeInUnitOf(qint64 bytes, const QString &capText)
{
    const bool binary = capText.endsWith(QLatin1String("iB"));
    const qint64 unit = binary ? 1024 : 1000;
    return QStringLiteral("%1 %2").arg((bytes + unit - 1) / unit).arg(binary ? u"KiB" : u"KB");
}

QString fileFilter(const Sticker &sticker)
{
    const QString pattern = QStringLiteral(" (*.%1)").arg(sticker.suffix);
    if (sticker.formatName == QLatin1String("gif"))
        return QStringLiteral("GIF 动图") + pattern;
    if (sticker.formatName == QLatin1String("apng"))
        return QStringLiteral("APNG 动图") + pattern;
    if (sticker.formatName == QLatin1String("webp"))
        return QStringLiteral("WebP 图片") + pattern;
    return QStringLiteral("PNG 图片") + pattern;
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

bool presetAnimates(const QString &preset)
{
    return preset != QLatin1String("telegram");
}

bool stickerIsGif(const QString &preset, const QString &effect)
{
    return effect != QLatin1String("still") && kGifPresets.contains(preset);
}

StickerChoices StickerChoices::load(QSettings &settings)
{
    StickerChoices choices;
    const auto text = [&](const char *key, const QString &fallback, const QList<Named> &table) {
        const QString value = settings.value(kGroup + QLatin1String(key), fallback).toString();
        return known(table, value) ? value : fallback;
    };
    choices.preset = text("preset", choices.preset, kPresets);
    choices.effect = text("effect", choices.effect, kEffects);
    if (!presetAnimates(choices.preset))
        choices.effect = QStringLiteral("still");
    choices.outline = settings.value(kGroup + QLatin1String("outline"), choices.outline).toBool();
    const QColor colour(settings.value(kGroup + QLatin1String("outlineColour")).toString());
    if (colour.isValid())
        choices.outlineColour = colour;
    const int width = settings.value(kGroup + QLatin1String("outlineWidth"), choices.outlineWidth).toInt();
    if (width >= 1 && width <= kMaxOutlineWidth)
        choices.outlineWidth = width;
    choices.shadow = settings.value(kGroup + QLatin1String("shadow"), choices.shadow).toBool();
    choices.matte = text("matte", choices.matte, kMattes);
    const QString ground = text("ground", QStringLiteral("checkerboard"), kGrounds);
    choices.ground = ground == QLatin1String("light")  ? PreviewGround::Light
                     : ground == QLatin1String("dark") ? PreviewGround::Dark
                                                       : PreviewGround::Checkerboard;
    return choices;
}

void StickerChoices::save(QSettings &settings) const
{
    settings.setValue(kGroup + QLatin1String("preset"), preset);
    settings.setValue(kGroup + QLatin1String("effect"), effect);
    settings.setValue(kGroup + QLatin1String("outline"), outline);
    settings.setValue(kGroup + QLatin1String("outlineColour"), outlineColour.name(QColor::HexRgb));
    settings.setValue(kGroup + QLatin1String("outlineWidth"), outlineWidth);
    settings.setValue(kGroup + QLatin1String("shadow"), shadow);
    settings.setValue(kGroup + QLatin1String("matte"), matte);
    settings.setValue(kGroup + QLatin1String("ground"), kGrounds.at(int(ground)).name);
}

StickerOptions StickerChoices::options() const
{
    StickerOptions options;
    options.preset = preset;
    options.effect = effect;
    options.outlinePx = outline ? outlineWidth : 0;
    options.outlineColour = outlineColour;
    options.shadow = shadow;
    if (stickerIsGif(preset, effect) && matte != QLatin1String("transparent"))
        options.matte = matte == QLatin1String("light") ? kLightMatte : kDarkMatte;
    options.seed = kWindowStickerSeed;
    return options;
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
    m_preset = comboBox(QStringLiteral("cbbPreset"), kPresets, this);
    m_effect = comboBox(QStringLiteral("cbbEffect"), kEffects, this);
    m_outline = new QCheckBox(QStringLiteral("描边"), this);
    m_outline->setObjectName(QStringLiteral("chkOutline"));
    m_outlineColour = new ColourEdit(QStringLiteral("edtOutlineColour"), fromQColor(Qt::white), this);
    m_outlineWidth = new QSpinBox(this);
    m_outlineWidth->setObjectName(QStringLiteral("spnOutlineWidth"));
    m_outlineWidth->setRange(1, kMaxOutlineWidth);
    m_outlineWidth->setSuffix(QStringLiteral(" 像素"));
    m_shadow = new QCheckBox(QStringLiteral("阴影"), this);
    m_shadow->setObjectName(QStringLiteral("chkShadow"));
    m_matte = comboBox(QStringLiteral("cbbMatte"), kMattes, this);
    m_matte->setToolTip(
        QStringLiteral("GIF 的半透明边缘：保持透明，或融进浅色（白色）或深色（#1E1E1E）聊天背景"));
    m_ground = comboBox(QStringLiteral("cbbGround"), kGrounds, this);

    auto *outlineRow = new QHBoxLayout;
    outlineRow->addWidget(m_outline);
    outlineRow->addWidget(m_outlineColour);
    outlineRow->addWidget(m_outlineWidth);
    outlineRow->addStretch();

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("预设："), m_preset);
    form->addRow(QStringLiteral("效果："), m_effect);
    form->addRow(QStringLiteral("轮廓："), outlineRow);
    form->addRow(QStringLiteral("投影："), m_shadow);
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

    auto *page = new QVBoxLayout(this);
    page->addLayout(body, 1);
    page->addWidget(buttons);

    for (QComboBox *box : {m_preset, m_effect, m_matte})
        connect(box, &QComboBox::currentIndexChanged, this, &StickerDialog::choicesChanged);
    for (QCheckBox *box : {m_outline, m_shadow})
        connect(box, &QCheckBox::toggled, this, &StickerDialog::choicesChanged);
    connect(m_outlineColour, &ColourEdit::colourChanged, this, &StickerDialog::choicesChanged);
    connect(m_outlineWidth, &QSpinBox::valueChanged, this, &StickerDialog::choicesChanged);
    connect(m_ground, &QComboBox::currentIndexChanged, this, [this] {
        m_player->setGround(choices().ground);
        QSettings settings(kSettingsOwner, kSettingsOwner);
        choices().save(settings);
    });
}

StickerChoices StickerDialog::choices() const
{
    StickerChoices choices;
    choices.preset = selected(m_preset);
    choices.effect = selected(m_effect);
    choices.outline = m_outline->isChecked();
    choices.outlineColour = toQColor(m_outlineColour->colour());
    choices.outlineWidth = m_outlineWidth->value();
    choices.shadow = m_shadow->isChecked();
    choices.matte = selected(m_matte);
    choices.ground = PreviewGround(std::max(0, m_ground->currentIndex()));
    return choices;
}

void StickerDialog::restore(const StickerChoices &choices)
{
    m_restoring = true;
    select(m_preset, choices.preset);
    select(m_effect, choices.effect);
    m_outline->setChecked(choices.outline);
    m_outlineColour->setColour(fromQColor(choices.outlineColour));
    m_outlineWidth->setValue(choices.outlineWidth);
    m_shadow->setChecked(choices.shadow);
    select(m_matte, choices.matte);
    m_ground->setCurrentIndex(int(choices.ground));
    m_player->setGround(choices.ground);
    m_restoring = false;
    updateAllowedChoices();
}

void StickerDialog::updateAllowedChoices()
{
    const bool animates = presetAnimates(selected(m_preset));
    for (int i = 1; i < m_effect->count(); ++i)
        allowEntry(m_effect, i, animates, kTelegramStillOnly);
    m_effect->setToolTip(animates ? QString() : kTelegramStillOnly);
    if (!animates && m_effect->currentIndex() != 0) {
        const QSignalBlocker quiet(m_effect);
        m_effect->setCurrentIndex(0);
    }
    const bool gif = stickerIsGif(selected(m_preset), selected(m_effect));
    m_matte->setEnabled(gif);
    m_matte->setToolTip(
        gif ? QStringLiteral("GIF 的半透明边缘：保持透明，或融进浅色（白色）或深色（#1E1E1E）聊天背景")
            : kMatteGifOnly);
    m_outlineColour->setEnabled(m_outline->isChecked());
    m_outlineWidth->setEnabled(m_outline->isChecked());
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
    showMeter();

    using Result = std::pair<std::optional<Sticker>, QString>;
    auto *watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        // A sticker of older choices, finished or stopped, is never shown.
        if (generation != m_generation)
            return;
        Result result = watcher->result();
        stickerMade(std::move(result.first), result.second);
    });
    watcher->setFuture(QtConcurrent::run(
        &m_workers, [maker = m_maker, layout = m_layout, ink = m_ink, options = choices().options(), cancel] {
            try {
                return Result{maker(layout, ink, options, cancel.get()), QString()};
            } catch (const StickerCancelled &) {
                return Result{std::nullopt, QString()};
            } catch (const std::exception &error) {
                return Result{std::nullopt, errorReportText(innermostMessage(error))};
            } catch (...) {
                return Result{std::nullopt, QStringLiteral("无法生成贴纸")};
            }
        }));
}

void StickerDialog::stickerMade(std::optional<Sticker> sticker, const QString &error)
{
    m_making = false;
    m_sticker = std::move(sticker);
    m_error = m_sticker ? QString() : error;
    m_player->setAnimation(m_sticker ? m_sticker->shown : Animation());
    showMeter();
    const Pending pending = std::exchange(m_pending, Pending::Nothing);
    emit stickerUpdated();
    if (pending != Pending::Nothing)
        carryOut(pending);
}

void StickerDialog::showMeter()
{
    if (m_making) {
        m_bytes->setText(QStringLiteral("正在生成…"));
        showInColour(m_bytes, std::nullopt);
    } else if (!m_sticker) {
        m_pixels->clear();
        m_bytes->clear();
    } else {
        const Sticker &sticker = *m_sticker;
        QString pixels = QStringLiteral("%1 × %2 像素").arg(sticker.size.width()).arg(sticker.size.height());
        if (sticker.frames > 1)
            pixels += QStringLiteral("，%1 帧").arg(sticker.frames);
        m_pixels->setText(pixels);
        const bool over = sticker.cap && sticker.bytes.size() > *sticker.cap;
        // Sizes are read against the chosen app's cap, as that app states it.
        const QString presetName = selected(m_preset);
        const StickerPreset *preset = presetName.isEmpty() ? nullptr : &findStickerPreset(presetName);
        const QString capText = preset ? preset->capText : QString();
        const QString size = sizeInUnitOf(sticker.bytes.size(), capText);
        if (!sticker.cap)
            m_bytes->setText(size);
        else
            m_bytes->setText(
                size + QStringLiteral(" / ") +
                (preset && *sticker.cap == preset->capBytes ? capText : sizeInUnitOf(*sticker.cap, capText)));
        m_bytes->setToolTip(sticker.cap ? QStringLiteral("文件大小 / 该应用的上限")
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
    if (!m_making && m_sticker)
        notes << m_sticker->warnings;
    if (m_player->scaleShown() < 1)
        notes << QStringLiteral("预览已缩小到 %1%，保存的文件是原大小。")
                     .arg(qRound(m_player->scaleShown() * 100));
    m_notes->setText(notes.join(QLatin1Char('\n')));
    showInColour(m_notes, m_error.isEmpty() ? std::nullopt : std::optional(warningColour(palette())));
}

SaveDialog *StickerDialog::saveDialog()
{
    if (!m_saveDialog) {
        m_saveDialog = new SaveDialog(this);
        m_saveDialog->setObjectName(QStringLiteral("StickerSaveDialog"));
    }
    return m_saveDialog;
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
        if (action == Pending::Copy) {
            auto data = std::make_unique<QMimeData>();
            data->setData(sticker.mimeType, sticker.bytes);
            // An APNG is a PNG to programs that know no APNG.
            if (sticker.suffix == QLatin1String("png") && sticker.mimeType != QLatin1String("image/png"))
                data->setData(QStringLiteral("image/png"), sticker.bytes);
            data->setUrls({QUrl::fromLocalFile(writeCacheFile(m_phrase, sticker.suffix, sticker.bytes))});
            QGuiApplication::clipboard()->setMimeData(data.release());
            m_notes->setText(QStringLiteral("已复制到剪贴板"));
            return;
        }
        SaveDialog *dialog = saveDialog();
        dialog->setDefaultSuffix(sticker.suffix);
        dialog->setNameFilter(fileFilter(sticker));
        dialog->selectFile(fileNameFromPhrase(m_phrase) + QLatin1Char('.') + sticker.suffix);
        if (dialog->exec() != QDialog::Accepted)
            return;
        const QString chosen = dialog->chosenFile();
        if (chosen.isEmpty())
            return;
        writeFileReplacing(chosen, [&sticker](QIODevice &device) {
            writeExactly(device, sticker.bytes.constData(), sticker.bytes.size());
        });
    });
}
