#include "app/kit/colour_edit.h"
#include "app/kit/panel.h"
#include "app/kit/radio_group.h"
#include "app/kit/save_dialog.h"
#include "app/kit/spin_edit.h"
#include "app/shell/startup.h"
#include "app/sticker_dialog/sticker_dialog.h"
#include "app/window/MainUnt.h"
#include "app/window/capture.h"
#include "app/window/strip_widget.h"
#include "composition/font_request.h"
#include "composition/quillow_error.h"
#include "composition/text_measurer.h"
#include "export/save_command.h"
#include "file_dialog_typing.h"
#include "window_parts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDirIterator>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include <sys/stat.h>

Q_DECLARE_METATYPE(StripSettings)

// Spells a record out when a comparison fails.
char *toString(const StripSettings &s)
{
    return QTest::toString(
        QStringLiteral("{text \"%1\", face \"%2\", bold %3, italic %4, underline %5, strike-out %6, "
                       "horz %7, vert %8, spacing %9, colours %10, start %11, end %12}")
            .arg(s.text, s.faceName)
            .arg(s.bold)
            .arg(s.italic)
            .arg(s.underline)
            .arg(s.strikeOut)
            .arg(int(s.horzAlign))
            .arg(int(s.vertAlign))
            .arg(s.spacing)
            .arg(int(s.colourMode))
            .arg(s.startColour, 6, 16, QLatin1Char('0'))
            .arg(s.endColour, 6, 16, QLatin1Char('0')));
}

namespace {

// Case-insensitive order puts "Zulu" last; a case-sensitive one would not.
const QStringList kInstalled{"beta", "Zulu", "alpha Sans"};

FontEnumerator instant(const QStringList &names = kInstalled)
{
    return [names] {
        QList<FontFace> faces;
        for (const QString &name : names)
            faces.append({name, true});
        return faces;
    };
}

// A window at its design size whose font list is already in.
struct ShownWindow {
    TMainFrm frm;
    WindowParts ui{frm};
    QStringList reports;
    bool ready = false; // shown, exposed, and the font list in when asked for

    explicit ShownWindow(FontEnumerator fonts = instant(), bool waitForFonts = true) : frm(std::move(fonts))
    {
        frm.setErrorReporter([this](QWidget *, const QString &text) { reports.append(text); });
        if (waitForFonts && !ui.cbbfont->isFilled()) {
            QSignalSpy arrived(ui.cbbfont, &FontNameList::listArrived);
            if (!arrived.wait())
                return;
        }
        frm.show();
        ready = QTest::qWaitForWindowExposed(&frm);
    }
};

QPoint clickPoint(QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    const bool radio = qobject_cast<QRadioButton *>(button);
    return button->style()
        ->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option,
                         button)
        .center();
}

// Chinese arrives through the input method, committed a phrase at a time.
void typeThroughInputMethod(QWidget *edit, const QString &text)
{
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(edit, &commit);
}

void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, clickPoint(button));
}

StripView *strip(const WindowParts &ui)
{
    const auto strips = ui.pnlMain->findChildren<StripView *>(Qt::FindDirectChildrenOnly);
    return strips.size() == 1 ? strips.first() : nullptr;
}

QList<std::optional<ColourValue>> colours(const StripView *container)
{
    QList<std::optional<ColourValue>> result;
    for (const Cell &cell : container->layout().cells)
        result.append(cell.colour);
    return result;
}

class FailingMeasurer : public TextMeasurer {
public:
    QSize measure(const QString &, const FontRequest &) override
    {
        throw QuillowError(QStringLiteral("无法测量文字"));
    }
};

using Input = std::function<void(const WindowParts &)>;

} // namespace

Q_DECLARE_METATYPE(Input)

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void windowIsTheDesignedOne();
    void firstSizeFitsTheScreen();
    void iconFollowsFirstPaint();
    void componentsSitWhereDesigned_data();
    void componentsSitWhereDesigned();
    void saveMenuAndDialog();

    void settingsFollowTheControls_data();
    void settingsFollowTheControls();

    void formShowPicksLastFace();

    void noStripBeforeFirstPreview();
    void ctrlEOpensStickerDialogFromAnyControl_data();
    void ctrlEOpensStickerDialogFromAnyControl();
    void previewCentresStripInPreviewRegion_data();
    void previewCentresStripInPreviewRegion();
    void repeatedPreviewKeepsGeometryButDrawsNewRandomColours();
    void resizingMovesNothingUntilNextPreview();
    void repeatedPreviewsLeaveOneStrip();

    void previewRegionIgnoresInputButKeepsExactColours_data();
    void previewRegionIgnoresInputButKeepsExactColours();
    void failedPreviewIsReportedAndKeepsOldStrip();
    void defaultInkReadsOnWhiteUnderAnyScheme_data();
    void defaultInkReadsOnWhiteUnderAnyScheme();
    void saveButtonOpensMenuOnAnyClick_data();
    void saveButtonOpensMenuOnAnyClick();

    void saveProposesRawPhraseAndWritesChosenFile_data();
    void saveProposesRawPhraseAndWritesChosenFile();
    void cancelledSaveWritesNothing();
    void unsavablePictureIsReportedBeforeAnyDialog();

    void quotedNameIsSavedUnderThatName_data();
    void quotedNameIsSavedUnderThatName();
    void closingWithoutSavingWritesNothing();
    void failedSaveShowsTheReasonInTheErrorBox();

    void enterInAnySettingPreviews_data();
    void enterInAnySettingPreviews();
    void enterOnSaveButtonOpensItsMenu();
    void stripMenuShowsKeysAndWaitsForAPreview();
    void focusedButtonShowsAFrame_data();
    void focusedButtonShowsAFrame();
    void keyboardStartsAtPhraseAndTabsInReadingOrder();
    void shrunkWindowKeepsSettingsUsable();
    void phraseNeverHoldsHalfACharacter_data();
    void phraseNeverHoldsHalfACharacter();
    void emptyFaceBoxNamesTheFaceUsed();
    void settingsLookTidy();

public:
    // Runs before the application is made: gives the whole run a private,
    // empty home, so that nothing reaches the real one and what a closing
    // window writes can be seen.
    static void initMain();
};

void TestMainWindow::windowIsTheDesignedOne()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QCOMPARE(w.frm.objectName(), QStringLiteral("MainFrm"));
    QCOMPARE(w.frm.windowTitle(), QStringLiteral("Quillow"));
    QCOMPARE(w.frm.size(), QSize(1045, 506));
    QCOMPARE(w.frm.font().pixelSize(), 16);
    QVERIFY(w.frm.minimumSize() != w.frm.maximumSize());
    QCOMPARE(w.frm.palette().color(QPalette::Window), w.frm.palette().color(QPalette::Button));
    // Centred where the window fits the screen; otherwise its title bar
    // stays on the screen.
    const QRect screen = w.frm.screen()->availableGeometry();
    const QRect frame = w.frm.frameGeometry();
    if (frame.width() <= screen.width())
        QVERIFY(qAbs(frame.center().x() - screen.center().x()) <= 1);
    else
        QCOMPARE(frame.left(), screen.left());
    if (frame.height() <= screen.height())
        QVERIFY(qAbs(frame.center().y() - screen.center().y()) <= 1);
    else
        QCOMPARE(frame.top(), screen.top());
}

// The first size is the design's where the screen holds it; on a screen
// with fewer logical pixels (a large display scale) the whole window still
// starts on the screen.
void TestMainWindow::firstSizeFitsTheScreen()
{
    ShownWindow w;
    QVERIFY(w.ready);
    const QRect room = w.frm.screen()->availableGeometry();
    const QRect frame = w.frm.frameGeometry();
    QVERIFY2(room.contains(frame), qPrintable(QStringLiteral("%1x%2 at %3,%4 on a screen of %5x%6")
                                                  .arg(frame.width())
                                                  .arg(frame.height())
                                                  .arg(frame.x())
                                                  .arg(frame.y())
                                                  .arg(room.width())
                                                  .arg(room.height())));
    const QSize decoration = frame.size() - w.frm.size();
    if (room.width() >= TMainFrm::kDesignSize.width() + decoration.width() &&
        room.height() >= TMainFrm::kDesignSize.height() + decoration.height())
        QCOMPARE(w.frm.size(), TMainFrm::kDesignSize);
    // The preview and the settings are there, in their designed order.
    QVERIFY(w.ui.Panel2->geometry().bottom() == w.frm.height() - 1);
    QVERIFY(w.ui.pnlsave->height() > 0);
}

// The window is shown without waiting for the application icon, which it
// gets once it has painted.
void TestMainWindow::iconFollowsFirstPaint()
{
    QApplication::setWindowIcon(QIcon());
    TMainFrm frm(instant());
    showMainWindow(frm);
    QVERIFY(frm.windowIcon().isNull());
    QVERIFY(QTest::qWaitForWindowExposed(&frm));
    QTRY_VERIFY(!frm.windowIcon().isNull());
    QCOMPARE(frm.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

void TestMainWindow::componentsSitWhereDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry"); // a negative width or height is not checked
    QTest::addColumn<QString>("caption");

    const auto row = [](const char *name, const char *parent, const char *kind, QRect geometry,
                        const QString &caption = QString()) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent)
                            << QString::fromLatin1(kind) << geometry << caption;
    };
    row("lblpreview", "MainFrm", "QLabel", QRect(375, -108, -1, -1), QStringLiteral("我"));
    row("Panel2", "MainFrm", "Panel", QRect(0, 319, 1045, 187));
    row("pnlsave", "MainFrm", "Panel", QRect(0, 0, 1045, 319));
    row("pnlMain", "pnlsave", "Panel", QRect(50, 40, 945, 239));
    row("cxGroupBox1", "Panel2", "QGroupBox", QRect(0, 0, 604, 187), QStringLiteral("设置"));
    row("Panel1", "cxGroupBox1", "Panel", QRect(-1, -1, 200, -1));
    row("cbbfont", "Panel1", "FontNameList", QRect(0, 0, 200, -1));
    row("chkbold", "Panel1", "QCheckBox", QRect(0, -1, 200, 29), QStringLiteral("加粗"));
    row("chkstatic", "Panel1", "QCheckBox", QRect(0, -1, 200, 29), QStringLiteral("斜体"));
    row("chkul", "Panel1", "QCheckBox", QRect(0, -1, 200, 29), QStringLiteral("下划线"));
    row("chkso", "Panel1", "QCheckBox", QRect(0, -1, 200, 29), QStringLiteral("删除线"));
    row("Panel3", "cxGroupBox1", "Panel", QRect(-1, -1, 200, -1));
    row("cxRadioGroup2", "Panel3", "RadioGroup", QRect(0, 0, 200, 49), QStringLiteral("横对齐"));
    row("cxRadioGroup1", "Panel3", "RadioGroup", QRect(0, 49, 200, 49), QStringLiteral("纵对齐"));
    row("Panel5", "Panel3", "Panel", QRect(0, 98, 200, 39), QStringLiteral("间隔"));
    row("cxSpinEdit1", "Panel5", "SpinEdit", QRect(200 - 5 - 92, 5, 92, 29));
    row("Panel4", "cxGroupBox1", "Panel", QRect(-1, -1, -1, -1));
    row("cxRadioGroup3", "Panel4", "RadioGroup", QRect(0, 0, -1, 49), QStringLiteral("颜色"));
    row("Panel6", "Panel4", "Panel", QRect(0, 49, -1, 39), QStringLiteral("起始色"));
    row("dxColorEdit1", "Panel6", "ColourEdit", QRect(-1, 5, 97, 29));
    row("Panel7", "Panel4", "Panel", QRect(0, 88, -1, 39), QStringLiteral("终止色"));
    row("dxColorEdit2", "Panel7", "ColourEdit", QRect(-1, 5, 97, 29));
    row("edtMain", "Panel2", "QLineEdit", QRect(614, 14, 207, -1), QStringLiteral("友谊的小船说翻就翻"));
    row("btnPreview", "Panel2", "QPushButton", QRect(614, 66, 67, 25), QStringLiteral("预览"));
    row("btnsave", "Panel2", "QPushButton", QRect(720, 66, 101, 25), QStringLiteral("保存图片"));
}

void TestMainWindow::componentsSitWhereDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);

    ShownWindow w;
    QVERIFY(w.ready);
    auto *component = w.frm.findChild<QWidget *>(name);
    QVERIFY(component);
    QCOMPARE(component->parentWidget()->objectName(), parent);
    QVERIFY2(component->inherits(kind.toLatin1()), component->metaObject()->className());

    const QRect actual = component->geometry();
    if (geometry.x() >= 0 || name == QLatin1String("lblpreview"))
        QCOMPARE(actual.x(), geometry.x());
    if (geometry.y() >= 0 || name == QLatin1String("lblpreview"))
        QCOMPARE(actual.y(), geometry.y());
    if (geometry.width() >= 0)
        QCOMPARE(actual.width(), geometry.width());
    if (geometry.height() >= 0)
        QCOMPARE(actual.height(), geometry.height());

    if (!caption.isEmpty()) {
        QString shown;
        if (auto *label = qobject_cast<QLabel *>(component))
            shown = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(component))
            shown = button->text();
        else if (auto *group = qobject_cast<QGroupBox *>(component))
            shown = group->title();
        else if (auto *edit = qobject_cast<QLineEdit *>(component))
            shown = edit->text();
        else if (auto *panel = qobject_cast<Panel *>(component))
            shown = panel->caption();
        QCOMPARE(shown, caption);
    }

    // Code outside the window finds a component by its name alone, so the
    // name must be the window's only object of that name.
    QCOMPARE(w.frm.findChildren<QObject *>(name).size(), 1);
}

void TestMainWindow::saveMenuAndDialog()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QCOMPARE(w.ui.btnsave->menu(), w.ui.pm1);
    QCOMPARE(w.ui.pm1->actions(), (QList<QAction *>{w.ui.N1, w.ui.PNG1}));
    QCOMPARE(w.ui.N1->text(), QStringLiteral("BMP格式"));
    QCOMPARE(w.ui.N1->property("tag").toInt(), 0);
    QCOMPARE(w.ui.PNG1->text(), QStringLiteral("PNG格式"));
    QCOMPARE(w.ui.PNG1->property("tag").toInt(), 1);
    QCOMPARE(w.frm.SaveDialog1()->parent(), &w.frm);
    QCOMPARE(w.frm.SaveDialog1()->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!w.frm.SaveDialog1()->testOption(QFileDialog::DontConfirmOverwrite));
    QVERIFY(w.ui.lblpreview->isHidden());
    QCOMPARE(w.ui.edtMain->maxLength(), 10);

    // The three settings columns stand side by side and share the group's height.
    QCOMPARE(w.ui.Panel3->x(), w.ui.Panel1->geometry().right() + 1);
    QCOMPARE(w.ui.Panel4->x(), w.ui.Panel3->geometry().right() + 1);
    QVERIFY(w.ui.Panel4->geometry().right() < w.ui.cxGroupBox1->width());
    QCOMPARE(w.ui.Panel1->geometry().top(), w.ui.Panel4->geometry().top());
    QCOMPARE(w.ui.Panel1->height(), w.ui.Panel3->height());
}

void TestMainWindow::settingsFollowTheControls_data()
{
    QTest::addColumn<Input>("input");
    QTest::addColumn<StripSettings>("expected");

    StripSettings defaults;
    defaults.faceName = QStringLiteral("Zulu"); // the last face, picked on first show
    QTest::newRow("untouched controls give the defaults") << Input([](const WindowParts &) {}) << defaults;

    StripSettings typed = defaults;
    typed.text = QStringLiteral("  我们123456");
    QTest::newRow("typed phrase is raw and cut at 10 code units") << Input([](const WindowParts &f) {
        f.edtMain->setFocus();
        f.edtMain->selectAll();
        QTest::keyClick(f.edtMain, Qt::Key_Backspace);
        QTest::keyClicks(f.edtMain, QStringLiteral("  "));
        typeThroughInputMethod(f.edtMain, QStringLiteral("我们"));
        QTest::keyClicks(f.edtMain, QStringLiteral("123456789"));
    }) << typed;

    StripSettings styled = defaults;
    styled.bold = styled.italic = styled.underline = styled.strikeOut = true;
    QTest::newRow("four style boxes ticked") << Input([](const WindowParts &f) {
        for (QAbstractButton *box : {f.chkbold, f.chkstatic, f.chkul, f.chkso})
            click(box);
    }) << styled;

    StripSettings aligned = defaults;
    aligned.horzAlign = HorzAlign::Right;
    aligned.vertAlign = VertAlign::Middle;
    aligned.colourMode = ColourMode::Default;
    QTest::newRow("radio items give their values") << Input([](const WindowParts &f) {
        click(f.cxRadioGroup2->buttons().at(2));
        click(f.cxRadioGroup1->buttons().at(1));
        click(f.cxRadioGroup3->buttons().at(2));
    }) << aligned;

    StripSettings spaced = defaults;
    spaced.spacing = 17;
    QTest::newRow("typed spacing") << Input([](const WindowParts &f) {
        f.cxSpinEdit1->setFocus();
        QTest::keyClick(f.cxSpinEdit1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(f.cxSpinEdit1, QStringLiteral("17"));
    }) << spaced;

    QTest::newRow("emptied spacing is 0") << Input([](const WindowParts &f) {
        f.cxSpinEdit1->setValue(9);
        f.cxSpinEdit1->setFocus();
        QTest::keyClick(f.cxSpinEdit1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f.cxSpinEdit1, Qt::Key_Backspace);
    }) << defaults;

    StripSettings coloured = defaults;
    coloured.colourMode = ColourMode::Gradient;
    coloured.startColour = colourValue(0, 128, 0);
    QTest::newRow("gradient with a chosen start colour") << Input([](const WindowParts &f) {
        click(f.cxRadioGroup3->buttons().at(1));
        f.dxColorEdit1->setColour(colourValue(0, 128, 0));
        f.dxColorEdit2->setColour(colourValue(9, 9, 9));
        f.dxColorEdit2->clear();
    }) << coloured;

    StripSettings noFace = defaults;
    noFace.faceName.clear();
    QTest::newRow("no face selected is an empty name")
        << Input([](const WindowParts &f) { f.cbbfont->setCurrentIndex(-1); }) << noFace;
}

void TestMainWindow::settingsFollowTheControls()
{
    QFETCH(Input, input);
    QFETCH(StripSettings, expected);
    ShownWindow w;
    QVERIFY(w.ready);
    input(w.ui);
    QCOMPARE(w.frm.readStripSettings(), expected);
}

// Whether the list is in before the window first shows or arrives long after,
// the first selection is the last face in collation order; until the list
// arrives the window's own face is named.
void TestMainWindow::formShowPicksLastFace()
{
    for (const bool listBeforeShow : {true, false}) {
        auto gate = std::make_shared<QSemaphore>(listBeforeShow ? 1 : 0);
        const FontEnumerator slow = [gate] {
            gate->acquire();
            return instant()();
        };
        ShownWindow w(slow, listBeforeShow);
        QVERIFY(w.ready);
        QCOMPARE(w.ui.cbbfont->isFilled(), listBeforeShow);
        if (!listBeforeShow) {
            QCOMPARE(w.frm.readStripSettings().faceName, QStringLiteral("微软雅黑"));
            QSignalSpy arrived(w.ui.cbbfont, &FontNameList::listArrived);
            gate->release();
            QVERIFY(arrived.wait());
        }
        QVERIFY2(w.frm.readStripSettings().faceName == QStringLiteral("Zulu"),
                 listBeforeShow ? "list before show" : "list late");
    }
}

void TestMainWindow::noStripBeforeFirstPreview()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QVERIFY(w.ui.pnlMain->findChildren<QWidget *>().isEmpty());
    QCOMPARE(w.ui.pnlMain->geometry(), QRect(50, 40, 945, 239));
}

void TestMainWindow::previewCentresStripInPreviewRegion_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("default phrase grows 30 to 110")
        << QStringLiteral("友谊的小船说翻就翻") << QList<int>{30, 40, 50, 60, 70, 80, 90, 100, 110};
    QTest::newRow("spaces around one character") << QStringLiteral("  我 ") << QList<int>{110};
    QTest::newRow("all spaces show nothing") << QStringLiteral("     ") << QList<int>{};
}

void TestMainWindow::ctrlEOpensStickerDialogFromAnyControl_data()
{
    QTest::addColumn<QString>("control");
    // The phrase box is where the cursor sits after typing and Return, and
    // a line edit takes Ctrl+E for itself as "end of line".
    QTest::newRow("phrase box") << QStringLiteral("edtMain");
    QTest::newRow("size box") << QStringLiteral("cxSpinEdit1");
    QTest::newRow("preview button") << QStringLiteral("btnPreview");
}

void TestMainWindow::ctrlEOpensStickerDialogFromAnyControl()
{
    QFETCH(QString, control);
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.frm));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QVERIFY(strip(w.ui));
    auto *focused = w.frm.findChild<QWidget *>(control);
    QVERIFY(focused);
    focused->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), focused);
    w.ui.edtMain->setCursorPosition(0);

    QTest::keyClick(focused, Qt::Key_E, Qt::ControlModifier);
    QTRY_VERIFY(w.frm.stickerDialog() && w.frm.stickerDialog()->isVisible());
    // The edit did not take the keys as "end of line" as well.
    QCOMPARE(w.ui.edtMain->cursorPosition(), 0);
}

void TestMainWindow::previewCentresStripInPreviewRegion()
{
    QFETCH(QString, phrase);
    QFETCH(QList<int>, sizes);
    ShownWindow w;
    QVERIFY(w.ready);
    w.ui.edtMain->setText(phrase);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);

    StripView *container = strip(w.ui);
    QVERIFY(container);
    QList<int> shown;
    for (const Cell &cell : container->layout().cells)
        shown.append(cell.pointSize);
    QCOMPARE(shown, sizes);

    const QRect area = w.ui.pnlMain->geometry();
    QCOMPARE(container->geometry(), QRect(QPoint(0, 0), area.size()));
    QCOMPARE(area.x(), (1045 - area.width()) / 2);
    QCOMPARE(area.y(), (319 - area.height()) / 2);
    QVERIFY(area.height() > 110);
    if (sizes.isEmpty())
        QCOMPARE(area.width(), 0);
    else
        QCOMPARE(area.width(), container->layout().cells.back().x + container->layout().cells.back().width);
    QVERIFY(w.reports.isEmpty());
}

void TestMainWindow::repeatedPreviewKeepsGeometryButDrawsNewRandomColours()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    const QRect first = w.ui.pnlMain->geometry();
    const auto firstColours = colours(strip(w.ui));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QCOMPARE(w.ui.pnlMain->geometry(), first);
    const auto secondColours = colours(strip(w.ui));
    QCOMPARE(secondColours.size(), 9);
    for (const auto &colour : secondColours)
        QVERIFY(colour.has_value());
    QVERIFY(firstColours != secondColours);
}

void TestMainWindow::resizingMovesNothingUntilNextPreview()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    const QRect before = w.ui.pnlMain->geometry();
    w.frm.resize(1245, 606);
    QTRY_COMPARE(w.ui.pnlsave->size(), QSize(1245, 419));
    QCOMPARE(w.ui.Panel2->geometry(), QRect(0, 419, 1245, 187));
    QCOMPARE(w.ui.pnlMain->geometry(), before);

    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    const QRect after = w.ui.pnlMain->geometry();
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.x(), (1245 - after.width()) / 2);
    QCOMPARE(after.y(), (419 - after.height()) / 2);
}

void TestMainWindow::repeatedPreviewsLeaveOneStrip()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QPointer<StripView> first = strip(w.ui);
    QVERIFY(first);
    // Each preview replaces the last one; a thousand in a row are the memory
    // benchmark's business.
    for (int i = 0; i < 3; ++i)
        w.ui.btnPreview->click();
    QVERIFY(first.isNull());
    // The last strip is the output area's only widget, and holds none.
    QCOMPARE(w.ui.pnlMain->findChildren<QWidget *>().size(), 1);
}

void TestMainWindow::previewRegionIgnoresInputButKeepsExactColours_data()
{
    QTest::addColumn<int>("mode"); // index of the colour radio item
    QTest::newRow("gradient of one colour") << 1;
    QTest::newRow("default text colour") << 2;
}

void TestMainWindow::previewRegionIgnoresInputButKeepsExactColours()
{
    QFETCH(int, mode);
    ShownWindow w;
    QVERIFY(w.ready);
    const ColourValue chosen = colourValue(201, 37, 94);
    click(w.ui.cxRadioGroup3->buttons().at(mode));
    w.ui.dxColorEdit1->setColour(chosen);
    w.ui.dxColorEdit2->setColour(chosen);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QVERIFY(strip(w.ui));

    // Nothing in the preview region takes the mouse or the keyboard ...
    for (const QPoint inRegion : {QPoint(5, 5), w.ui.pnlMain->geometry().center()}) {
        QWidget *hit = w.frm.childAt(w.ui.pnlsave->mapTo(&w.frm, inRegion));
        QVERIFY(!hit || !(hit == w.ui.pnlsave || w.ui.pnlsave->isAncestorOf(hit)));
    }
    for (QWidget *widget : w.ui.pnlsave->findChildren<QWidget *>())
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);

    // ... yet it is not disabled: the characters keep their exact colour.
    QVERIFY(w.ui.pnlsave->isEnabled());
    const QColor expected =
        mode == 1 ? toQColor(chosen) : w.frm.palette().color(QPalette::Active, QPalette::WindowText);
    const QImage shown = w.frm.grab(w.ui.pnlsave->geometry()).toImage();
    int exact = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            exact += shown.pixelColor(x, y).rgb() == expected.rgb();
    QVERIFY2(exact > 500, qPrintable(QString::number(exact)));
}

void TestMainWindow::defaultInkReadsOnWhiteUnderAnyScheme_data()
{
    QTest::addColumn<QColor>("windowText");
    QTest::addColumn<QColor>("ink");
    QTest::newRow("dark scheme's light text gives black") << QColor(0xEF, 0xF0, 0xF1) << QColor(Qt::black);
    QTest::newRow("mid grey below 4.5:1 gives black") << QColor(0x80, 0x80, 0x80) << QColor(Qt::black);
    QTest::newRow("dark blue text is kept") << QColor(0x1F, 0x3A, 0x93) << QColor(0x1F, 0x3A, 0x93);
}

void TestMainWindow::defaultInkReadsOnWhiteUnderAnyScheme()
{
    QFETCH(QColor, windowText);
    QFETCH(QColor, ink);
    const QPalette standard = QApplication::palette();
    const auto restore = qScopeGuard([&standard] { QApplication::setPalette(standard); });
    QPalette scheme = standard;
    scheme.setColor(QPalette::Window, QColor(0x31, 0x36, 0x3B));
    scheme.setColor(QPalette::WindowText, windowText);
    QApplication::setPalette(scheme);

    ShownWindow w;
    QVERIFY(w.ready);
    click(w.ui.cxRadioGroup3->buttons().at(2));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QVERIFY(strip(w.ui));
    const auto inkPixels = [&ink](const QImage &image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += (image.pixel(x, y) & 0xFFFFFF) == (ink.rgb() & 0xFFFFFF);
        return count;
    };
    const int shown = inkPixels(w.frm.grab(w.ui.pnlMain->geometry()).toImage());
    QVERIFY2(shown > 500, qPrintable(QString::number(shown)));

    // The saved files carry the same ink: the BMP exactly, the PNG as its
    // nearest palette colour, dark either way.
    QTemporaryDir folder;
    for (const int tag : {0, 1}) {
        const QString path = folder.filePath(tag == 0 ? "ink.bmp" : "ink.png");
        SaveCommand(CaptureOutputArea(w.ui.pnlMain), formatForTag(tag)).writeTo(path);
        const QImage saved(path);
        QVERIFY(!saved.isNull());
        int dark = 0;
        for (int y = 0; y < saved.height(); ++y)
            for (int x = 0; x < saved.width(); ++x)
                dark += qGray(saved.pixel(x, y)) < 96 && qAlpha(saved.pixel(x, y)) == 255;
        QVERIFY2(dark > 500, qPrintable(path));
        if (tag == 0)
            QCOMPARE(inkPixels(saved), shown);
    }
}

void TestMainWindow::failedPreviewIsReportedAndKeepsOldStrip()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QPointer<StripView> shown = strip(w.ui);
    const QRect area = w.ui.pnlMain->geometry();

    w.frm.setTextMeasurer(std::make_unique<FailingMeasurer>());
    w.ui.edtMain->setText(QStringLiteral("新的"));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);

    QCOMPARE(w.reports, QStringList{QStringLiteral("无法测量文字.")});
    QVERIFY(shown);
    QCOMPARE(strip(w.ui), shown.data());
    QCOMPARE(w.ui.pnlMain->geometry(), area);
    QVERIFY(w.frm.isVisible());
}

void TestMainWindow::saveButtonOpensMenuOnAnyClick_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("on the caption") << QPoint(30, 12);
    QTest::newRow("on the arrow") << QPoint(92, 12);
}

void TestMainWindow::saveButtonOpensMenuOnAnyClick()
{
    QFETCH(QPoint, at);
    ShownWindow w;
    QVERIFY(w.ready);
    QWidget *opened = nullptr;
    QTimer::singleShot(0, w.ui.pm1, [&] {
        opened = QApplication::activePopupWidget();
        if (opened)
            opened->close();
    });
    QTest::mouseClick(w.ui.btnsave, Qt::LeftButton, {}, at);
    QCOMPARE(opened, w.ui.pm1);
    QVERIFY(w.reports.isEmpty());
}

namespace {

// What the save dialog showed when it came up, and what the test did with it.
struct DialogVisit {
    bool shown = false;
    QString suffix;
    QStringList filters;
    QString proposedName;
};

// Answers SaveDialog1 once it is up: with `fileName` in `folder`, or cancels
// when `fileName` is empty. Tied to the dialog, so it dies with the window.
void answerSaveDialog(QFileDialog *dialog, DialogVisit &visit, const QString &folder, const QString &fileName)
{
    QTimer::singleShot(0, dialog, [=, &visit] {
        visit.shown = dialog->isVisible();
        visit.suffix = dialog->defaultSuffix();
        visit.filters = dialog->nameFilters();
        const QStringList selected = dialog->selectedFiles();
        visit.proposedName = selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName();
        if (fileName.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(folder);
        QVERIFY(typeFileNameAndAccept(dialog, fileName));
    });
}

} // namespace

void TestMainWindow::saveProposesRawPhraseAndWritesChosenFile_data()
{
    QTest::addColumn<int>("entry"); // 0 N1, 1 PNG1
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("signature");
    QTest::newRow("BMP entry") << 0 << "bmp" << QByteArray("BM");
    QTest::newRow("PNG entry") << 1 << "png" << QByteArray("\x89PNG\r\n\x1a\n");
}

void TestMainWindow::saveProposesRawPhraseAndWritesChosenFile()
{
    QFETCH(int, entry);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, signature);
    ShownWindow w;
    QVERIFY(w.ready);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    w.ui.edtMain->setText(QStringLiteral(" 我们 "));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    const QSize shown = w.ui.pnlMain->size();

    DialogVisit visit;
    answerSaveDialog(w.frm.SaveDialog1(), visit, folder.path(), QStringLiteral("typed"));
    (entry == 0 ? w.ui.N1 : w.ui.PNG1)->trigger();

    QVERIFY(visit.shown);
    QCOMPARE(visit.suffix, suffix);
    QCOMPARE(visit.proposedName, QStringLiteral(" 我们 .") + suffix);
    QCOMPARE(visit.filters.size(), 1);
    QVERIFY(w.reports.isEmpty());

    // The default suffix completes the typed name.
    QFile written(folder.filePath(QStringLiteral("typed.") + suffix));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.read(signature.size()) == signature);
    written.close();
    QCOMPARE(QImage(written.fileName()).size(), shown);
}

void TestMainWindow::cancelledSaveWritesNothing()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    w.frm.SaveDialog1()->setDirectory(folder.path());
    DialogVisit visit;
    answerSaveDialog(w.frm.SaveDialog1(), visit, folder.path(), QString());
    w.ui.PNG1->trigger();
    QVERIFY(visit.shown);
    QVERIFY(QDir(folder.path()).isEmpty());
    QVERIFY(w.reports.isEmpty());
}

void TestMainWindow::unsavablePictureIsReportedBeforeAnyDialog()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.ui.edtMain->setText(QStringLiteral("   "));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    DialogVisit visit;
    QTimer::singleShot(0, w.frm.SaveDialog1(), [&] {
        visit.shown = w.frm.SaveDialog1()->isVisible();
        w.frm.SaveDialog1()->reject();
    });
    w.ui.N1->trigger();
    QCOMPARE(w.reports.size(), 1);
    QVERIFY(!w.reports.first().isEmpty());
    QVERIFY(!visit.shown);
}

void TestMainWindow::quotedNameIsSavedUnderThatName_data()
{
    QTest::addColumn<QString>("typed"); // empty: the proposed name is kept
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("exists");
    QTest::newRow("proposed name") << QString() << QStringLiteral("a\"b.png") << false;
    QTest::newRow("typed without suffix") << QStringLiteral("c\"d") << QStringLiteral("c\"d.png") << false;
    QTest::newRow("existing file, replacing confirmed") << QString() << QStringLiteral("a\"b.png") << true;
}

// Qt's dialog reads '"' as quoting a list of names and would save "a"b.png"
// as "b.png", asking about that file before overwriting.
void TestMainWindow::quotedNameIsSavedUnderThatName()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(bool, exists);
    ShownWindow w;
    QVERIFY(w.ready);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString target = folder.filePath(expected);
    if (exists) {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old picture");
    }
    w.ui.edtMain->setText(QStringLiteral("a\"b"));
    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);

    SaveDialog *dialog = w.frm.SaveDialog1();
    dialog->setDirectory(folder.path());
    QString proposed;
    QString question;
    QTimer::singleShot(0, dialog, [&] {
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameEdit);
        proposed = nameEdit->text();
        nameEdit->setFocus();
        if (!typed.isEmpty()) {
            nameEdit->selectAll();
            QTest::keyClicks(nameEdit, typed);
        }
        // Runs inside the overwrite question, if one is asked.
        QTimer::singleShot(0, dialog, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                question = box->text();
                box->button(QMessageBox::Yes)->click();
            }
        });
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
    w.ui.PNG1->trigger();

    QCOMPARE(proposed, QStringLiteral("a\"b.png"));
    QVERIFY(w.reports.isEmpty());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{expected});
    QCOMPARE(QImage(target).size(), w.ui.pnlMain->size());
    QCOMPARE(question.contains(expected), exists);
}

namespace {

// Every file and folder under `root` with what changes when it is written.
QStringList fileSystemState(const QString &root)
{
    QStringList state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status {};
        if (lstat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        state.append(QStringLiteral("%1 inode %2 size %3 modified %4.%5")
                         .arg(path)
                         .arg(status.st_ino)
                         .arg(status.st_size)
                         .arg(status.st_mtim.tv_sec)
                         .arg(status.st_mtim.tv_nsec));
    }
    state.sort();
    return state;
}

QTemporaryDir &privateHome()
{
    static QTemporaryDir home;
    return home;
}

} // namespace

void TestMainWindow::initMain()
{
    const QByteArray home = QFile::encodeName(privateHome().path());
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_STATE_HOME", home + "/.local/state");
}

// Qt's file dialog rewrites its settings file when it is destroyed; a run
// that saved nothing must not have built one.
void TestMainWindow::closingWithoutSavingWritesNothing()
{
    QVERIFY(privateHome().isValid());
    QStringList before;
    {
        ShownWindow w;
        QVERIFY(w.ready);
        QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
        QVERIFY(!w.frm.findChild<QFileDialog *>());
        before = fileSystemState(privateHome().path());
        w.frm.close();
    }
    QCoreApplication::processEvents();
    QCOMPARE(fileSystemState(privateHome().path()), before);
}

// Through the real report, message box included: the system's reason reads
// in Chinese and the Chinese full stop gets no "." after it.
void TestMainWindow::failedSaveShowsTheReasonInTheErrorBox()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.setErrorReporter(showErrorReport);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    SaveDialog *dialog = w.frm.SaveDialog1();
    dialog->setDirectory(folder.path());

    QString title;
    QString text;
    QTimer errorBoxWatch;
    connect(&errorBoxWatch, &QTimer::timeout, &w.frm, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            errorBoxWatch.stop();
            title = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    QTimer::singleShot(0, dialog, [&] {
        auto *nameEdit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(nameEdit);
        nameEdit->setFocus();
        nameEdit->selectAll();
        QTest::keyClicks(nameEdit, QStringLiteral("nowhere/x"));
        errorBoxWatch.start(10);
        QTest::keyClick(nameEdit, Qt::Key_Return);
    });
    w.ui.PNG1->trigger();

    QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QCOMPARE(text, QStringLiteral("Cannot create file \"%1\". 没有这个文件或文件夹。")
                       .arg(folder.filePath(QStringLiteral("nowhere/x.png"))));
    QVERIFY(QDir(folder.path()).isEmpty());
}

void TestMainWindow::enterInAnySettingPreviews_data()
{
    QTest::addColumn<QString>("control"); // object name of the focused control
    QTest::addColumn<int>("key");
    QTest::newRow("phrase, Return") << QStringLiteral("edtMain") << int(Qt::Key_Return);
    QTest::newRow("phrase, keypad Enter") << QStringLiteral("edtMain") << int(Qt::Key_Enter);
    QTest::newRow("bold") << QStringLiteral("chkbold") << int(Qt::Key_Return);
    QTest::newRow("strike-out, keypad Enter") << QStringLiteral("chkso") << int(Qt::Key_Enter);
    QTest::newRow("horizontal alignment item") << QStringLiteral("cxRadioGroup2") << int(Qt::Key_Return);
    QTest::newRow("colour mode item") << QStringLiteral("cxRadioGroup3") << int(Qt::Key_Return);
    QTest::newRow("spacing field") << QStringLiteral("cxSpinEdit1") << int(Qt::Key_Return);
    QTest::newRow("closed font box") << QStringLiteral("cbbfont") << int(Qt::Key_Return);
    QTest::newRow("start colour") << QStringLiteral("dxColorEdit1") << int(Qt::Key_Return);
    QTest::newRow("the preview button itself") << QStringLiteral("btnPreview") << int(Qt::Key_Return);
}

// As in a dialog: Enter in any control that has no use of its own for it
// presses the default button, once, and changes no setting.
void TestMainWindow::enterInAnySettingPreviews()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    ShownWindow w;
    QVERIFY(w.ready);
    QVERIFY(w.ui.btnPreview->isDefault());
    w.frm.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), w.ui.edtMain);
    QWidget *target = w.frm.findChild<QWidget *>(control);
    QVERIFY(target);
    if (auto *group = qobject_cast<RadioGroup *>(target))
        target = group->buttons().at(1);
    target->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(target->hasFocus());
    w.ui.cxSpinEdit1->setValue(7);
    const StripSettings before = w.frm.readStripSettings();
    QSignalSpy previews(w.ui.btnPreview, &QPushButton::clicked);

    QVERIFY(!strip(w.ui));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                    key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);

    QCOMPARE(previews.size(), 1);
    QVERIFY(strip(w.ui));
    QCOMPARE(strip(w.ui)->layout().cells.size(), std::size_t(9));
    QCOMPARE(w.frm.readStripSettings(), before);
    QVERIFY(target->hasFocus());
    QVERIFY(w.reports.isEmpty());
}

void TestMainWindow::focusedButtonShowsAFrame_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("reason");
    QTest::newRow("preview, by Tab") << QStringLiteral("btnPreview") << int(Qt::TabFocusReason);
    QTest::newRow("save, by Tab") << QStringLiteral("btnsave") << int(Qt::TabFocusReason);
    QTest::newRow("preview, by a click") << QStringLiteral("btnPreview") << int(Qt::MouseFocusReason);
}

// Where Enter and Space go is visible: a focused button shows a frame that
// stands out from its face, however the focus came.
void TestMainWindow::focusedButtonShowsAFrame()
{
    QFETCH(QString, button);
    QFETCH(int, reason);
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), w.ui.edtMain);
    auto *target = w.frm.findChild<QPushButton *>(button);
    QVERIFY(target);
    const QImage plain = target->grab().toImage();
    target->setFocus(Qt::FocusReason(reason));
    QTRY_VERIFY(target->hasFocus());
    const QImage focused = target->grab().toImage();
    QCOMPARE(focused.size(), plain.size());

    int standingOut = 0; // pixels the focus changed by at least 100 levels
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb a = plain.pixel(x, y), b = focused.pixel(x, y);
            standingOut += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                     std::abs(qBlue(a) - qBlue(b))}) >= 100;
        }
    // A dotted line around the caption marks at least a sixth of the
    // button's perimeter, in physical pixels.
    const int perimeter = 2 * (plain.width() + plain.height());
    QVERIFY2(standingOut >= perimeter / 6, qPrintable(QString::number(standingOut)));

    target->clearFocus();
    QTRY_VERIFY(!target->hasFocus());
    QCOMPARE(target->grab().toImage(), plain);
}

// Enter on the save button is that button's own press: it opens the format
// menu and previews nothing.
// The output area's menu shows each command's key, and offers the commands
// only once there is a strip; the keys stay on either way.
void TestMainWindow::stripMenuShowsKeysAndWaitsForAPreview()
{
    ShownWindow w;
    QVERIFY(w.ready);
    auto *menu = w.frm.findChild<QMenu *>(QStringLiteral("pmStrip"));
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QStringList keys;
    for (QAction *action : actions) {
        QVERIFY(action->isShortcutVisibleInContextMenu());
        keys << action->shortcut().toString();
    }
    QCOMPARE(keys, (QStringList{"Ctrl+Shift+C", "Ctrl+E"}));

    emit menu->aboutToShow();
    for (QAction *action : actions)
        QVERIFY2(!action->isEnabled(), qPrintable(action->text()));
    emit menu->aboutToHide();
    for (QAction *action : actions)
        QVERIFY(action->isEnabled());

    QTest::mouseClick(w.ui.btnPreview, Qt::LeftButton);
    QTRY_VERIFY(strip(w.ui));
    emit menu->aboutToShow();
    for (QAction *action : actions)
        QVERIFY(action->isEnabled());
    emit menu->aboutToHide();
}

void TestMainWindow::enterOnSaveButtonOpensItsMenu()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), w.ui.edtMain);
    w.ui.btnsave->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(w.ui.btnsave->hasFocus());
    bool menuShown = false;
    QTimer::singleShot(0, w.ui.pm1, [&] {
        menuShown = w.ui.pm1->isVisible();
        w.ui.pm1->close();
    });
    QTest::keyClick(w.ui.btnsave, Qt::Key_Return);
    QVERIFY(menuShown);
    QVERIFY(!strip(w.ui));
}

void TestMainWindow::keyboardStartsAtPhraseAndTabsInReadingOrder()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.activateWindow();
    QTRY_COMPARE(QApplication::focusWidget(), w.ui.edtMain);

    // Column by column, each top to bottom, then the phrase and the buttons;
    // a radio group takes the focus once, on its selected item.
    const QList<QWidget *> expected{
        w.ui.btnPreview,
        w.ui.btnsave,
        w.ui.cbbfont,
        w.ui.chkbold,
        w.ui.chkstatic,
        w.ui.chkul,
        w.ui.chkso,
        w.ui.cxRadioGroup2->buttons().at(0),
        w.ui.cxRadioGroup1->buttons().at(0),
        w.ui.cxSpinEdit1,
        w.ui.cxRadioGroup3->buttons().at(0),
        w.ui.dxColorEdit1,
        w.ui.dxColorEdit2,
        w.ui.edtMain,
    };
    QList<QWidget *> visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // A spin box hands its focus to its own line edit.
        visited.append(focus && focus->parentWidget() == w.ui.cxSpinEdit1 ? w.ui.cxSpinEdit1 : focus);
    }
    QCOMPARE(visited, expected);
}

void TestMainWindow::shrunkWindowKeepsSettingsUsable()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.frm.resize(600, 200);
    QTRY_COMPARE(w.frm.size(), w.frm.minimumSize());
    QVERIFY(w.frm.minimumSize().width() <= 1045 && w.frm.minimumSize().height() <= 506);
    QCOMPARE(w.ui.Panel2->height(), 187);
    QVERIFY(w.ui.pnlsave->height() > 0);
    for (QWidget *control : {static_cast<QWidget *>(w.ui.cxGroupBox1), static_cast<QWidget *>(w.ui.edtMain),
                             static_cast<QWidget *>(w.ui.btnPreview), static_cast<QWidget *>(w.ui.btnsave)}) {
        const QRect inWindow(control->mapTo(&w.frm, QPoint(0, 0)), control->size());
        QVERIFY2(w.frm.rect().contains(inWindow), qPrintable(control->objectName()));
    }
}

void TestMainWindow::phraseNeverHoldsHalfACharacter_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("after");
    const QString grin = QStringLiteral("😀"); // U+1F600, two code units
    QTest::newRow("typed: nine characters and an emoji")
        << QStringLiteral("一二三四五六七八九") << 9 << grin << false << QStringLiteral("一二三四五六七八九");
    QTest::newRow("pasted: nine characters and an emoji")
        << QString() << 0 << QStringLiteral("一二三四五六七八九") + grin << true
        << QStringLiteral("一二三四五六七八九");
    QTest::newRow("pasted into the middle with one unit left")
        << QStringLiteral("一二三四五六七八九") << 3 << grin << true << QStringLiteral("一二三四五六七八九");
    QTest::newRow("a pair that fits is kept") << QStringLiteral("一二三四五六七八") << 8 << grin << false
                                              << QStringLiteral("一二三四五六七八") + grin;
    QTest::newRow("pasted family cut after its first joiner")
        << QStringLiteral("一二三四五六七") << 7 << QStringLiteral("👨\u200D👩\u200D👧") << true
        << QStringLiteral("一二三四五六七");
    QTest::newRow("pasted flag with room for one letter")
        << QStringLiteral("一二三四五六七八") << 8 << QStringLiteral("🇨🇳") << true
        << QStringLiteral("一二三四五六七八");
    QTest::newRow("a family that fits is kept")
        << QStringLiteral("一二") << 2 << QStringLiteral("👨\u200D👩\u200D👧") << true
        << QStringLiteral("一二👨\u200D👩\u200D👧");
    QTest::newRow("a combining mark is kept")
        << QStringLiteral("Caf") << 3 << QStringLiteral("e\u0301") << false << QStringLiteral("Cafe\u0301");
}

void TestMainWindow::phraseNeverHoldsHalfACharacter()
{
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(QString, entered);
    QFETCH(bool, pasted);
    QFETCH(QString, after);
    ShownWindow w;
    QVERIFY(w.ready);
    w.ui.edtMain->setText(before);
    w.ui.edtMain->setFocus();
    w.ui.edtMain->setCursorPosition(cursor);
    if (pasted) {
        QApplication::clipboard()->setText(entered);
        QTest::keyClick(w.ui.edtMain, Qt::Key_V, Qt::ControlModifier);
    } else {
        typeThroughInputMethod(w.ui.edtMain, entered);
    }
    QCOMPARE(w.ui.edtMain->text(), after);
    QCOMPARE(w.frm.readStripSettings().text, after);
}

void TestMainWindow::emptyFaceBoxNamesTheFaceUsed()
{
    auto gate = std::make_shared<QSemaphore>(0);
    ShownWindow w(
        [gate] {
            gate->acquire();
            return instant({})();
        },
        false);
    QVERIFY(w.ready);
    QSignalSpy arrived(w.ui.cbbfont, &FontNameList::listArrived);
    gate->release();
    QVERIFY(arrived.wait());
    QCOMPARE(w.frm.readStripSettings().faceName, QString());
    QCOMPARE(w.ui.cbbfont->placeholderText(), QStringLiteral("默认：") + resolveFace(QString()));
}

void TestMainWindow::settingsLookTidy()
{
    ShownWindow w;
    QVERIFY(w.ready);
    const auto part = [](QGroupBox *group, QStyle::SubControl control) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        return group->style()->subControlRect(QStyle::CC_GroupBox, &option, control, group);
    };

    // Each caption sits in the top line of its frame, in from the frame's
    // left end, and the contents start below it.
    for (QGroupBox *group :
         {w.ui.cxGroupBox1, static_cast<QGroupBox *>(w.ui.cxRadioGroup2),
          static_cast<QGroupBox *>(w.ui.cxRadioGroup1), static_cast<QGroupBox *>(w.ui.cxRadioGroup3)}) {
        const QRect frame = part(group, QStyle::SC_GroupBoxFrame);
        const QRect caption = part(group, QStyle::SC_GroupBoxLabel);
        QVERIFY2(group->rect().contains(caption), qPrintable(group->objectName()));
        QVERIFY2(caption.left() > frame.left() && caption.right() < frame.right(),
                 qPrintable(group->objectName()));
        QVERIFY2(caption.top() < frame.top() && frame.top() < caption.bottom(),
                 qPrintable(group->objectName()));
        QVERIFY2(group->contentsRect().top() > caption.bottom() - 2, qPrintable(group->objectName()));
    }

    // The font box keeps clear of the frame beside it.
    const int boxRight = w.ui.cbbfont->mapTo(&w.frm, QPoint(w.ui.cbbfont->width(), 0)).x();
    const int frameLeft =
        w.ui.cxRadioGroup2->mapTo(&w.frm, part(w.ui.cxRadioGroup2, QStyle::SC_GroupBoxFrame).topLeft()).x();
    QVERIFY2(frameLeft - boxRight >= 2, qPrintable(QStringLiteral("%1 %2").arg(boxRight).arg(frameLeft)));

    // The radio items keep the room they need and equal gaps between them.
    const QList<QRadioButton *> modes = w.ui.cxRadioGroup3->buttons();
    const int firstGap = modes[1]->x() - modes[0]->geometry().right();
    QVERIFY2(firstGap > 4, qPrintable(QString::number(firstGap)));
    QVERIFY(qAbs(modes[2]->x() - modes[1]->geometry().right() - firstGap) <= 1);
    for (QRadioButton *mode : modes)
        QCOMPARE(mode->width(), mode->sizeHint().width());

    // Every control in the settings panel writes in the window's font.
    for (QWidget *control : w.ui.Panel2->findChildren<QWidget *>())
        QVERIFY2(control->font().pixelSize() == 16,
                 qPrintable(control->objectName() + " " + control->metaObject()->className()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
