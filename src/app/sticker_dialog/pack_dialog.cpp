#include "app/sticker_dialog/pack_dialog.h"

#include "app/sticker_dialog/sticker_dialog.h"
#include "export/animation_decoding.h"
#include "export/output_format.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Typing pauses this long before the pack is made again.
constexpr int kRemakeDelayMs = 400;
constexpr int kCellSide = 120;

// The first frame of a file, on a light checkerboard so that white ink shows.
QIcon thumbnail(const QByteArray &bytes, const OutputFileFormat &format)
{
    QPixmap cell(kCellSide, kCellSide);
    cell.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter painter(&cell);
    for (int y = 0; y < kCellSide; y += 10)
        for (int x = (y / 10 % 2) * 10; x < kCellSide; x += 20)
            painter.fillRect(x, y, 10, 10, QColor(0xDD, 0xDD, 0xDD));
    try {
        const Animation animation = decodeAnimation(bytes, format);
        if (!animation.frames.empty()) {
            const QImage &frame = animation.frames.back().image;
            const QImage fitted =
                frame.scaled(kCellSide, kCellSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            painter.drawImage((kCellSide - fitted.width()) / 2, (kCellSide - fitted.height()) / 2, fitted);
        }
    } catch (const QuillowError &) {
        // An unreadable file shows as an empty cell; the checks name it.
    }
    return QIcon(cell);
}

} // namespace

PackDialog::PackDialog(JobDraft draft, const QString &firstPhrase, ErrorReporter report, QWidget *parent)
    : QDialog(parent), m_draft(std::move(draft)), m_report(std::move(report))
{
    setWindowTitle(QStringLiteral("做成贴纸包"));
    setObjectName(QStringLiteral("PackDialog"));
    m_workers.setMaxThreadCount(1);

    m_phrases = new QPlainTextEdit(this);
    m_phrases->setObjectName(QStringLiteral("edtPhrases"));
    m_phrases->setPlainText(firstPhrase + QLatin1Char('\n'));
    m_phrases->setPlaceholderText(QStringLiteral("每行一句短语；短语后可加制表符和表情符号"));
    m_phrases->setTabChangesFocus(false);
    // A tab only parts a phrase from its emoji: a wide stop would push them
    // out of sight.
    m_phrases->setTabStopDistance(m_phrases->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
    m_app = new QComboBox(this);
    m_app->setObjectName(QStringLiteral("cmbPackApp"));
    for (const StickerPackRule &rule : stickerPackRules())
        m_app->addItem(rule.label, rule.app);
    m_name = new QLineEdit(QStringLiteral("Quillow"), this);
    m_name->setObjectName(QStringLiteral("edtPackName"));
    m_publisher = new QLineEdit(QStringLiteral("Quillow"), this);
    m_publisher->setObjectName(QStringLiteral("edtPublisher"));
    m_iconPhrase = new QLineEdit(this);
    m_iconPhrase->setObjectName(QStringLiteral("edtIconPhrase"));
    m_iconPhrase->setPlaceholderText(QStringLiteral("不填则用第一句"));
    m_prefix = new QLineEdit(QStringLiteral("quillow"), this);
    m_prefix->setObjectName(QStringLiteral("edtNamePrefix"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("短语（每行一句）："), m_phrases);
    form->addRow(QStringLiteral("聊天软件："), m_app);
    form->addRow(QStringLiteral("贴纸包名称："), m_name);
    form->addRow(QStringLiteral("发布者："), m_publisher);
    form->addRow(QStringLiteral("图标用的短语："), m_iconPhrase);
    form->addRow(QStringLiteral("表情名前缀："), m_prefix);

    m_grid = new QListWidget(this);
    m_grid->setObjectName(QStringLiteral("lstPack"));
    m_grid->setViewMode(QListView::IconMode);
    m_grid->setIconSize(QSize(kCellSide, kCellSide));
    m_grid->setResizeMode(QListView::Adjust);
    m_grid->setMovement(QListView::Static);
    m_grid->setMinimumSize(4 * (kCellSide + 24), 2 * (kCellSide + 40));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblPackStatus"));
    m_status->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(this);
    m_saveButton = buttons->addButton(QStringLiteral("保存…"), QDialogButtonBox::ActionRole);
    m_saveButton->setObjectName(QStringLiteral("btnSavePack"));
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(m_saveButton, &QPushButton::clicked, this, &PackDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *body = new QHBoxLayout;
    body->addLayout(form, 1);
    body->addWidget(m_grid, 2);
    auto *page = new QVBoxLayout(this);
    page->addLayout(body, 1);
    page->addWidget(m_status);
    page->addWidget(buttons);

    m_changed = new QTimer(this);
    m_changed->setSingleShot(true);
    m_changed->setInterval(kRemakeDelayMs);
    connect(m_changed, &QTimer::timeout, this, &PackDialog::startMaking);
    // Only what the chosen app records can be edited.
    const auto showFields = [this] {
        const StickerPackRule *rule = stickerPackNamed(m_app->currentData().toString());
        for (QLineEdit *edit : {m_name, m_publisher})
            edit->setEnabled(rule && rule->metadata == PackMetadata::StickerAppContents);
        m_prefix->setEnabled(rule && rule->naming == PackNaming::ChatName);
    };
    showFields();
    connect(m_app, &QComboBox::currentIndexChanged, this, showFields);
    const auto remake = [this] { m_changed->start(); };
    connect(m_phrases, &QPlainTextEdit::textChanged, this, remake);
    connect(m_app, &QComboBox::currentIndexChanged, this, remake);
    for (QLineEdit *edit : {m_name, m_publisher, m_iconPhrase, m_prefix})
        connect(edit, &QLineEdit::textChanged, this, remake);
    startMaking();
}

PackDialog::~PackDialog()
{
    // The worker holds no pointer into the dialog but its queued answer,
    // which is dropped with the dialog; wait so it does not outlive Qt.
    m_workers.waitForDone();
}

QString PackDialog::refusal() const
{
    return m_error;
}

void PackDialog::startMaking()
{
    PackRequest request;
    request.rule = stickerPackNamed(m_app->currentData().toString());
    request.draft = m_draft;
    request.name = m_name->text();
    request.publisher = m_publisher->text();
    request.iconPhrase = m_iconPhrase->text();
    request.namePrefix = m_prefix->text();
    request.output = QStringLiteral("pack.zip");
    const QString phrases = m_phrases->toPlainText();
    const int generation = ++m_generation;
    m_making = true;
    m_saveButton->setEnabled(false);
    m_status->setText(QStringLiteral("正在做贴纸包…"));
    m_workers.start([this, request, phrases, generation]() mutable {
        std::optional<MadePack> made;
        QString error;
        try {
            request.entries = readPackList(*request.rule, phrases);
            if (request.entries.empty())
                throw UsageError(QStringLiteral("phrases"), QStringLiteral("还没有短语：每行写一句。"));
            made = makePack(request, threadRenderer());
        } catch (const QuillowError &failure) {
            error = failure.message();
        } catch (const std::bad_alloc &) {
            error = outOfMemoryMessage();
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, made = std::move(made), error]() mutable {
                packMade(generation, std::move(made), error);
            },
            Qt::QueuedConnection);
    });
}

void PackDialog::packMade(int generation, std::optional<MadePack> pack, const QString &error)
{
    if (generation != m_generation)
        return;
    m_making = false;
    m_pack = std::move(pack);
    m_error = error;
    showPack();
    emit packUpdated();
}

void PackDialog::showPack()
{
    m_grid->clear();
    m_saveButton->setEnabled(bool(m_pack));
    if (!m_pack) {
        m_status->setStyleSheet(QStringLiteral("color: #B00020;"));
        m_status->setText(m_error);
        return;
    }
    m_status->setStyleSheet(QString());
    for (const PackPicture &picture : m_pack->pictures)
        new QListWidgetItem(thumbnail(picture.bytes, *picture.rule->format), picture.rule->label, m_grid);
    for (const PackSticker &sticker : m_pack->stickers)
        new QListWidgetItem(thumbnail(sticker.bytes, *sticker.format), sticker.file, m_grid);
    QString text = QStringLiteral("%1 贴纸包：%2 张%3贴纸，压缩包 %4 KB，符合 %1 的规则。")
                       .arg(m_pack->rule->label)
                       .arg(m_pack->stickers.size())
                       .arg(m_pack->animated ? QStringLiteral("动态") : QStringLiteral("静态"))
                       .arg((m_pack->archive.size() + 999) / 1000);
    for (const QString &warning : m_pack->warnings)
        text += QLatin1Char('\n') + warning;
    m_status->setText(text);
}

bool PackDialog::saveTo(const QString &path)
{
    bool written = false;
    runGuarded(this, m_report, [&] {
        if (!m_pack)
            throw QuillowError(m_error.isEmpty() ? QStringLiteral("贴纸包还没有做好") : m_error);
        writePack(*m_pack, path);
        written = true;
    });
    if (written)
        m_status->setText(QStringLiteral("已保存到 %1").arg(path));
    return written;
}

void PackDialog::save()
{
    if (!m_pack)
        return;
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存贴纸包"),
                                                m_pack->rule->app + QStringLiteral("-pack.zip"),
                                                QStringLiteral("ZIP 压缩包 (*.zip)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive))
        path += QLatin1String(".zip");
    saveTo(path);
}

QPushButton *addPackButton(QDialogButtonBox *buttons, StickerDialog *dialog, const StripLayout &layout,
                           const QString &phrase, const ErrorReporter &report)
{
    QPushButton *button = buttons->addButton(QStringLiteral("做成贴纸包…"), QDialogButtonBox::ActionRole);
    button->setObjectName(QStringLiteral("btnMakePack"));
    const StripSettings settings = layout.settings;
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, settings, phrase, report] {
        JobDraft draft;
        draft.job.settings = settings;
        draft.job.sticker = dialog->choices().options();
        // The pack chooses the app's own preset and format; colours come
        // from a seed of each sticker's own, as a batch gives them.
        draft.job.sticker.preset = nullptr;
        draft.job.sticker.format = nullptr;
        draft.job.tiles.reset();
        auto *packs = new PackDialog(draft, phrase, report, dialog);
        packs->setAttribute(Qt::WA_DeleteOnClose);
        packs->open();
    });
    return button;
}
