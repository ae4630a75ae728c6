#include "app/window/MainUnt.h"

#include "app/kit/colour_edit.h"
#include "app/kit/focus_look.h"
#include "app/kit/group_look.h"
#include "app/kit/panel.h"
#include "app/kit/radio_group.h"
#include "app/kit/save_dialog.h"
#include "app/kit/screen_room.h"
#include "app/kit/spin_edit.h"
#include "app/shell/cache_folder.h"
#include "app/sticker_dialog/sticker_dialog.h"
#include "app/window/capture.h"
#include "app/window/strip_gestures.h"
#include "app/window/strip_widget.h"
#include "app/window/whole_characters.h"
#include "composition/colouring.h"
#include "composition/font_request.h"
#include "composition/ink.h"
#include "composition/strip_layout.h"
#include "composition/text_measurer.h"
#include "export/clipboard_picture.h"
#include "export/save_command.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kWindowFontPixels = 16;

constexpr int kSettingsHeight = 187; // Panel2
constexpr int kGroupWidth = 604;     // cxGroupBox1
constexpr int kColumnWidth = 200;    // Panel1, Panel3
constexpr int kCheckPitch = 29;      // check boxes, top to top
constexpr int kRadioHeight = 49;     // each radio group
constexpr int kRowHeight = 39;       // Panel5, Panel6, Panel7
constexpr int kRowMargin = 5;        // inside those rows
constexpr int kSpinWidth = 92;
constexpr int kColourWidth = 97;
constexpr QRect kOutputArea{50, 40, 945, 239};
constexpr int kCopyNoteMilliseconds = 2000;
// Small enough for any screen, large enough that the whole settings panel
// with the phrase and both buttons (right edge at 821) stays usable and a
// strip of preview remains above it.
constexpr QSize kMinimumSize{831, kSettingsHeight + 60};

QCheckBox *checkBox(const QString &name, const QString &caption, QWidget *parent)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}

} // namespace

TMainFrm::TMainFrm(FontEnumerator fontEnumerator, QWidget *parent)
    : QWidget(parent), m_measurer(std::make_unique<FontTextMeasurer>())
{
    setObjectName(QStringLiteral("MainFrm"));
    setWindowTitle(QStringLiteral("Quillow"));
    setLocale(QLocale(QLocale::Chinese, QLocale::China));

    QFont windowFont(resolveFace(kDefaultFace));
    windowFont.setPixelSize(kWindowFontPixels);
    setFont(windowFont);

    QPalette buttonFace = palette();
    buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
    setPalette(buttonFace);
    setAutoFillBackground(true);

    // The design's measuring label, kept under its name and never shown: it
    // sits above the client area. The strip is measured by the measurer
    // (fontFor() at the cell's size), which is what painting uses too, so
    // nothing reads this label.
    lblpreview = new QLabel(QStringLiteral("我"), this);
    lblpreview->setObjectName(QStringLiteral("lblpreview"));
    lblpreview->adjustSize();
    lblpreview->move(375, -108);
    lblpreview->hide();

    auto *dock = new DockLayout(this);
    Panel2 = new Panel(QStringLiteral("Panel2"), this);
    dock->addDocked(Panel2, Dock::Bottom, kSettingsHeight);
    pnlsave = new Panel(QStringLiteral("pnlsave"), this);
    dock->addDocked(pnlsave, Dock::Fill);

    buildSettings(std::move(fontEnumerator));
    buildCommands();
    buildPreviewRegion();
    buildCopyCommand();
    buildStripCommands();

    // A text box claims some Ctrl keys for its own editing (Ctrl+E is "end
    // of line" on X11), which would swallow the window's shortcuts exactly
    // where the cursor sits after typing a phrase.
    for (QWidget *editor : findChildren<QWidget *>())
        if (qobject_cast<QLineEdit *>(editor) || qobject_cast<QAbstractSpinBox *>(editor))
            editor->installEventFilter(this);

    resize(kDesignSize);
    setMinimumSize(kMinimumSize);
    // The phrase is what a user changes first.
    edtMain->setFocus();
}

TMainFrm::~TMainFrm() = default;

void TMainFrm::buildSettings(FontEnumerator fontEnumerator)
{
    cxGroupBox1 = new QGroupBox(QStringLiteral("设置"), Panel2);
    cxGroupBox1->setObjectName(QStringLiteral("cxGroupBox1"));
    Panel2->dock()->addDocked(cxGroupBox1, Dock::Left, kGroupWidth);
    auto *columns = new DockLayout(cxGroupBox1);
    columns->setContentsMargins(2, 2, 2, 4);

    Panel1 = new Panel(QStringLiteral("Panel1"), cxGroupBox1);
    columns->addDocked(Panel1, Dock::Left, kColumnWidth);
    cbbfont = new FontNameList(QStringLiteral("cbbfont"), std::move(fontEnumerator), Panel1);
    cbbfont->setCurrentFace(kDefaultFace);
    cbbfont->setDefaultFace(resolveFace(QString()));
    Panel1->dock()->addDocked(cbbfont, Dock::Top);
    chkbold = checkBox(QStringLiteral("chkbold"), QStringLiteral("加粗"), Panel1);
    chkstatic = checkBox(QStringLiteral("chkstatic"), QStringLiteral("斜体"), Panel1);
    chkul = checkBox(QStringLiteral("chkul"), QStringLiteral("下划线"), Panel1);
    chkso = checkBox(QStringLiteral("chkso"), QStringLiteral("删除线"), Panel1);
    for (QCheckBox *box : {chkbold, chkstatic, chkul, chkso})
        Panel1->dock()->addDocked(box, Dock::Top, kCheckPitch);

    Panel3 = new Panel(QStringLiteral("Panel3"), cxGroupBox1);
    columns->addDocked(Panel3, Dock::Left, kColumnWidth);
    const auto items = [](const char16_t *first, const char16_t *second, const char16_t *third) {
        return QList<RadioGroup::Item>{{QString::fromUtf16(first), QStringLiteral("1")},
                                       {QString::fromUtf16(second), QStringLiteral("2")},
                                       {QString::fromUtf16(third), QStringLiteral("3")}};
    };
    cxRadioGroup2 = new RadioGroup(QStringLiteral("cxRadioGroup2"), QStringLiteral("横对齐"),
                                   items(u"左", u"中", u"右"), 3, Panel3);
    Panel3->dock()->addDocked(cxRadioGroup2, Dock::Top, kRadioHeight);
    cxRadioGroup1 = new RadioGroup(QStringLiteral("cxRadioGroup1"), QStringLiteral("纵对齐"),
                                   items(u"上", u"中", u"下"), 3, Panel3);
    Panel3->dock()->addDocked(cxRadioGroup1, Dock::Top, kRadioHeight);
    Panel5 = new Panel(QStringLiteral("Panel5"), Panel3);
    Panel5->setCaption(QStringLiteral("间隔"));
    Panel3->dock()->addDocked(Panel5, Dock::Top, kRowHeight);
    cxSpinEdit1 = new SpinEdit(QStringLiteral("cxSpinEdit1"), kMinSpacing, kMaxSpacing, Panel5);
    Panel5->setInnerMargin(kRowMargin);
    Panel5->dock()->addDocked(cxSpinEdit1, Dock::Right, kSpinWidth);

    Panel4 = new Panel(QStringLiteral("Panel4"), cxGroupBox1);
    columns->addDocked(Panel4, Dock::Fill);
    cxRadioGroup3 = new RadioGroup(QStringLiteral("cxRadioGroup3"), QStringLiteral("颜色"),
                                   items(u"随机", u"渐变", u"默认"), 3, Panel4);
    Panel4->dock()->addDocked(cxRadioGroup3, Dock::Top, kRadioHeight);
    Panel6 = new Panel(QStringLiteral("Panel6"), Panel4);
    Panel6->setCaption(QStringLiteral("起始色"));
    Panel4->dock()->addDocked(Panel6, Dock::Top, kRowHeight);
    dxColorEdit1 = new ColourEdit(QStringLiteral("dxColorEdit1"), kDefaultStartColour, Panel6);
    Panel6->setInnerMargin(kRowMargin);
    Panel6->dock()->addDocked(dxColorEdit1, Dock::Right, kColourWidth);
    Panel7 = new Panel(QStringLiteral("Panel7"), Panel4);
    Panel7->setCaption(QStringLiteral("终止色"));
    Panel4->dock()->addDocked(Panel7, Dock::Top, kRowHeight);
    dxColorEdit2 = new ColourEdit(QStringLiteral("dxColorEdit2"), kDefaultEndColour, Panel7);
    Panel7->setInnerMargin(kRowMargin);
    Panel7->dock()->addDocked(dxColorEdit2, Dock::Right, kColourWidth);
    setCaptionsIntoFrames(cxGroupBox1);
}

void TMainFrm::buildCommands()
{
    // Given its text only once it has the window's font: a line edit built
    // with its text lays it out first in the application's font, loading a
    // face at a size nothing shows.
    edtMain = new QLineEdit(Panel2);
    edtMain->setText(kInitialPhrase);
    edtMain->setObjectName(QStringLiteral("edtMain"));
    edtMain->setMaxLength(kMaxPhraseLength);
    edtMain->setValidator(new WholeCharactersValidator(kMaxPhraseLength, edtMain));
    edtMain->setGeometry(614, 14, 207, edtMain->sizeHint().height());

    btnPreview = new QPushButton(QStringLiteral("预览"), Panel2);
    btnPreview->setObjectName(QStringLiteral("btnPreview"));
    btnPreview->setGeometry(614, 66, 67, 25);
    connect(btnPreview, &QPushButton::clicked, this, &TMainFrm::btnPreviewClick);
    // The window's default button: Enter in the phrase or any setting
    // previews (keyPressEvent()).
    btnPreview->setDefault(true);

    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    // A menu is a window of its own and would otherwise keep the
    // application's smaller Latin font beside the window's Chinese one.
    pm1->setFont(font());
    N1 = pm1->addAction(QStringLiteral("BMP格式"));
    N1->setObjectName(QStringLiteral("N1"));
    N1->setProperty("tag", 0);
    PNG1 = pm1->addAction(QStringLiteral("PNG格式"));
    PNG1->setObjectName(QStringLiteral("PNG1"));
    PNG1->setProperty("tag", 1);
    for (QAction *entry : {N1, PNG1})
        connect(entry, &QAction::triggered, this, [this, entry] { N1Click(entry); });

    // A push button with a menu opens it on any click, arrow or caption.
    btnsave = new QPushButton(QStringLiteral("保存图片"), Panel2);
    btnsave->setObjectName(QStringLiteral("btnsave"));
    btnsave->setGeometry(720, 66, 101, 25);
    btnsave->setMenu(pm1);
    for (QPushButton *button : {btnPreview, btnsave})
        showFocusFrame(button);
}

SaveDialog *TMainFrm::SaveDialog1()
{
    return keptSaveDialog(m_saveDialog, this, QStringLiteral("SaveDialog1"));
}

void TMainFrm::buildPreviewRegion()
{
    setWhiteGround(*pnlsave);
    makeInputTransparent(pnlsave);

    pnlMain = new Panel(QStringLiteral("pnlMain"), pnlsave);
    setWhiteGround(*pnlMain);
    pnlMain->setGeometry(kOutputArea);
    makeInputTransparent(pnlMain);
}

// The copy command: a window-wide shortcut, not a menu entry, so pm1 keeps
// its two formats; its note sits right of the save button.
void TMainFrm::buildCopyCommand()
{
    btnsave->setToolTip(QStringLiteral("Ctrl+Shift+C 复制图片到剪贴板"));

    actCopy = new QAction(QStringLiteral("复制"), this);
    actCopy->setObjectName(QStringLiteral("actCopy"));
    actCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    actCopy->setShortcutContext(Qt::WindowShortcut);
    addAction(actCopy);
    connect(actCopy, &QAction::triggered, this, &TMainFrm::actCopyExecute);

    // A label rather than a tool tip or a pop-up: it never takes the focus
    // away from the control the user was typing in.
    lblcopy = new QLabel(Panel2);
    lblcopy->setObjectName(QStringLiteral("lblcopy"));
    lblcopy->setGeometry(btnsave->geometry().right() + 9, btnsave->y(), 200, btnsave->height());
    lblcopy->setFocusPolicy(Qt::NoFocus);
    lblcopy->hide();
    m_copyNoteTimer = new QTimer(this);
    m_copyNoteTimer->setSingleShot(true);
    m_copyNoteTimer->setInterval(kCopyNoteMilliseconds);
    connect(m_copyNoteTimer, &QTimer::timeout, lblcopy, &QLabel::hide);
}

// Ctrl+E and the output area's context menu and drag.
void TMainFrm::buildStripCommands()
{
    actExport = new QAction(QStringLiteral("导出贴纸…"), this);
    actExport->setObjectName(QStringLiteral("actExport"));
    actExport->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    actExport->setShortcutContext(Qt::WindowShortcut);
    addAction(actExport);
    connect(actExport, &QAction::triggered, this, &TMainFrm::actExportExecute);

    pmStrip = new QMenu(this);
    pmStrip->setObjectName(QStringLiteral("pmStrip"));
    pmStrip->setFont(font());
    pmStrip->addAction(actCopy);
    pmStrip->addAction(actExport);
    // The menu shows each command's key, and offers them only once there is
    // a strip to copy or export. The keys themselves stay on: without a
    // preview they say "请先预览", which a greyed menu entry cannot.
    for (QAction *action : {actCopy, actExport})
        action->setShortcutVisibleInContextMenu(true);
    connect(pmStrip, &QMenu::aboutToShow, this, [this] {
        for (QAction *action : {actCopy, actExport})
            action->setEnabled(shownStrip() != nullptr);
    });
    connect(pmStrip, &QMenu::aboutToHide, this, [this] {
        for (QAction *action : {actCopy, actExport})
            action->setEnabled(true);
    });

    // A drag offers the strip as the copy does, and as a PNG file for
    // programs that take only files (file managers, some chats).
    new StripGestures(this, pnlMain, pmStrip, [this] {
        std::unique_ptr<QMimeData> data;
        guarded([this, &data] {
            const StripView *strip = shownStrip();
            data =
                strip ? stripMimeData(strip->layout(), strip->ink(), pnlMain->devicePixelRatioF()) : nullptr;
            if (data) {
                const QString file =
                    writeCacheFile(edtMain->text(), QStringLiteral("png"), data->data(kPngMimeType));
                data->setUrls({QUrl::fromLocalFile(file)});
            }
        });
        return data;
    });
}

const StripView *TMainFrm::shownStrip() const
{
    return pnlMain->findChild<StripView *>(QString(), Qt::FindDirectChildrenOnly);
}

const StripView *TMainFrm::previewedStrip()
{
    const StripView *strip = shownStrip();
    if (!strip)
        showCopyNote(QStringLiteral("请先预览"));
    return strip;
}

StripSettings TMainFrm::readStripSettings() const
{
    StripSettings settings;
    settings.text = edtMain->text();
    settings.faceName = cbbfont->currentFace();
    settings.bold = chkbold->isChecked();
    settings.italic = chkstatic->isChecked();
    settings.underline = chkul->isChecked();
    settings.strikeOut = chkso->isChecked();
    settings.horzAlign = HorzAlign(radioValue(cxRadioGroup2->selectedValue()));
    settings.vertAlign = VertAlign(radioValue(cxRadioGroup1->selectedValue()));
    settings.spacing = cxSpinEdit1->fieldValue();
    settings.colourMode = ColourMode(radioValue(cxRadioGroup3->selectedValue()));
    settings.startColour = dxColorEdit1->colour();
    settings.endColour = dxColorEdit2->colour();
    return settings;
}

void TMainFrm::setErrorReporter(ErrorReporter reporter)
{
    m_reportError = reporter ? std::move(reporter) : ErrorReporter(showErrorReport);
}

void TMainFrm::setTextMeasurer(std::unique_ptr<TextMeasurer> measurer)
{
    Q_ASSERT(measurer);
    m_measurer = std::move(measurer);
}

void TMainFrm::guarded(const std::function<void()> &handler)
{
    runGuarded(this, m_reportError, handler);
}

void TMainFrm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce || event->spontaneous())
        return;
    m_shownOnce = true;
    fitToScreen();
    centreOnScreen();
    FormShow();
}

// Enter that no control took, as a dialog handles it: the phrase, the check
// boxes, radio items, the spacing field and the closed font box all pass it
// on. A focused push button takes it as its own press (the save button opens
// its menu, as Space does); anywhere else it presses the default button.
bool TMainFrm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
        for (const QAction *action : actions())
            if (action->isEnabled() && action->shortcut() == pressed) {
                // Left unaccepted, the key goes to the window's shortcut.
                event->ignore();
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainFrm::keyPressEvent(QKeyEvent *event)
{
    const bool enter = (event->key() == Qt::Key_Return && event->modifiers() == Qt::NoModifier) ||
                       (event->key() == Qt::Key_Enter && event->modifiers() == Qt::KeypadModifier);
    if (!enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (focusWidget() == btnsave)
        btnsave->showMenu();
    else if (btnPreview->isEnabled())
        btnPreview->click();
}

// The design size where the screen's free area holds it; otherwise as much
// of it as fits, the minimum size giving way too: at a large display scale
// a small screen has fewer logical pixels than the design, and a window
// reaching past the screen's edge cannot be grabbed back.
void TMainFrm::fitToScreen()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect frame = frameGeometry(), client = geometry();
    const QSize decoration(frame.width() - client.width(), frame.height() - client.height());
    const QSize room = screen->availableGeometry().size() - decoration;
    setMinimumSize(minimumSize().boundedTo(room));
    resize(size().boundedTo(room));
}

// Centres the frame on the screen's free area, but never lets the title bar
// leave it: on a screen smaller than the window the user must still be able
// to grab and move it.
void TMainFrm::centreOnScreen()
{
    const QScreen *screen = this->screen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(room.center());
    move(topLeftKeptIn(frame, room));
}

// The list usually arrives after the first show; it starts at its last
// entry whenever it arrives, so the first face never depends on the worker.
void TMainFrm::FormShow()
{
    guarded([this] { cbbfont->selectLast(); });
}

void TMainFrm::btnPreviewClick()
{
    guarded([this] {
        const StripSettings settings = readStripSettings();
        // Everything that can fail happens before the old strip goes, so a
        // failed preview leaves the previous one on show.
        StripLayout layout = computeStripLayout(settings, *m_measurer, pnlsave->size());
        applyColouring(layout, settings, m_colourSource ? *m_colourSource : processColourSource());

        const auto previous = pnlMain->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        qDeleteAll(previous);

        // The Active group on purpose: the strip keeps its colours even
        // where it is shown inside a disabled widget.
        const QColor ink = inkFromWindowText(palette().color(QPalette::Active, QPalette::WindowText));
        auto *strip = new StripView(layout, ink, pnlMain);
        pnlMain->setGeometry(layout.left, layout.top, layout.width, layout.height);
        strip->show();
        m_previewedSettings = settings;
    });
}

// The save command: the picture is taken before the dialog opens, so what is
// saved is what the output area showed when the user chose the format.
void TMainFrm::N1Click(QObject *sender)
{
    guarded([this, sender] {
        const int tag = sender ? sender->property("tag").toInt() : 0;
        const OutputFileFormat &format = formatForTag(tag);
        SaveCommand command(CaptureOutputArea(pnlMain), format);
        const SaveDialogSetup setup = dialogSetup(format, edtMain->text());
        SaveDialog *dialog = SaveDialog1();
        dialog->setDefaultSuffix(setup.defaultSuffix);
        dialog->setNameFilter(setup.nameFilter);
        dialog->selectFile(setup.proposedFileName);
        if (dialog->exec() != QDialog::Accepted)
            return;
        const QString chosen = dialog->chosenFile();
        if (!chosen.isEmpty())
            command.writeTo(chosen);
    });
}

void TMainFrm::actCopyExecute()
{
    guarded([this] {
        const StripView *strip = previewedStrip();
        if (!strip)
            return;
        std::unique_ptr<QMimeData> picture =
            stripMimeData(strip->layout(), strip->ink(), pnlMain->devicePixelRatioF());
        if (!picture) {
            showCopyNote(QStringLiteral("没有可复制的图片"));
            return;
        }
        QGuiApplication::clipboard()->setMimeData(picture.release());
        showCopyNote(QStringLiteral("已复制到剪贴板"));
    });
}

void TMainFrm::actExportExecute()
{
    guarded([this] {
        const StripView *strip = previewedStrip();
        if (!strip)
            return;
        if (readStripSettings() != m_previewedSettings) {
            // A failed preview says why and leaves the old strip on show,
            // which is not what the controls say.
            btnPreviewClick();
            strip = shownStrip();
            if (!strip || readStripSettings() != m_previewedSettings)
                return;
        }
        if (strip->layout().cells.empty()) {
            showCopyNote(QStringLiteral("没有可导出的图片"));
            return;
        }
        if (!m_stickerDialog) {
            // The preview's own coloured layout, so the sticker has the very
            // colours on show, random ones included.
            m_stickerDialog = new StickerDialog(strip->layout(), strip->ink(), m_previewedSettings.text,
                                                m_reportError, this);
            m_stickerDialog->setAttribute(Qt::WA_DeleteOnClose);
            m_stickerDialog->setFont(font());
        }
        m_stickerDialog->open();
        m_stickerDialog->raise();
        m_stickerDialog->activateWindow();
    });
}

StickerDialog *TMainFrm::stickerDialog() const
{
    return m_stickerDialog;
}

void TMainFrm::showCopyNote(const QString &note)
{
    lblcopy->setText(note);
    lblcopy->show();
    m_copyNoteTimer->start();
}
