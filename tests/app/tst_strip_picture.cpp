// The one picture of the strip as the user meets it: on screen, in the saved
// file and on the clipboard. Runs at scale 1 and again with QT_SCALE_FACTOR=2.
#include "app/kit/panel.h"
#include "app/kit/radio_group.h"
#include "app/kit/spin_edit.h"
#include "app/sticker_dialog/sticker_dialog.h"
#include "app/window/MainUnt.h"
#include "app/window/capture.h"
#include "app/window/strip_gestures.h"
#include "app/window/strip_widget.h"
#include "export/clipboard_picture.h"
#include "window_parts.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QString kTestFace = QStringLiteral("WenQuanYi Micro Hei");

// A window at its design size, shown, with the test face selected.
struct ShownWindow {
    TMainFrm frm{[] { return QList<FontFace>{{kTestFace, true}}; }};
    WindowParts ui{frm};
    QStringList reports;
    bool ready = false;

    ShownWindow()
    {
        frm.setErrorReporter([this](QWidget *, const QString &text) { reports.append(text); });
        if (!ui.cbbfont->isFilled()) {
            QSignalSpy arrived(ui.cbbfont, &FontNameList::listArrived);
            if (!arrived.wait())
                return;
        }
        frm.show();
        ready = QTest::qWaitForWindowExposed(&frm);
    }

    // Sets the phrase and the three choices (1-based radio values) and
    // presses "预览" with the mouse.
    void preview(const QString &phrase, int horz, int vert, int spacing, int colourMode)
    {
        ui.edtMain->setText(phrase);
        ui.cxRadioGroup2->buttons().at(horz - 1)->setChecked(true);
        ui.cxRadioGroup1->buttons().at(vert - 1)->setChecked(true);
        ui.cxRadioGroup3->buttons().at(colourMode - 1)->setChecked(true);
        ui.cxSpinEdit1->setValue(spacing);
        QTest::mouseClick(ui.btnPreview, Qt::LeftButton);
    }

    void pressCopy(QWidget *focus)
    {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    }
};

// The window as it goes to the screen: the backing store the window paints
// into and the platform shows, in physical pixels. (QScreen::grabWindow()
// would read the same store, but Qt 6.4's offscreen platform crops it to the
// logical size when Qt scales.)
QImage onScreen(QWidget &window)
{
    QPaintDevice *store = window.backingStore() ? window.backingStore()->paintDevice() : nullptr;
    if (!store || store->devType() != QInternal::Image)
        return {};
    QImage shown = static_cast<QImage *>(store)->convertToFormat(QImage::Format_RGB32);
    shown.setDevicePixelRatio(1.0);
    return shown;
}

QImage imageOf(const Raster &picture)
{
    QImage image(picture.width, picture.height, QImage::Format_RGB32);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            image.setPixel(x, y, picture.pixel(x, y));
    return image;
}

int differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += (a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF);
    return count;
}

QSize scaled(QSize logical, qreal ratio)
{
    return QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio));
}

// Where a widget's logical position lands in physical pixels. At a scale
// like 1.5 a position can fall on half a pixel; Qt's painting then rounds
// halves up, also for negative positions (-136.5 gives -136).
QPoint physical(QPoint logical, qreal ratio)
{
    return QPoint(int(std::floor(logical.x() * ratio + 0.5)), int(std::floor(logical.y() * ratio + 0.5)));
}

bool whiteAround(const QImage &image, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const QPoint at(x + dx, y + dy);
            if (image.rect().contains(at) && (image.pixel(at) & 0xFFFFFF) != 0xFFFFFF)
                return false;
        }
    return true;
}

} // namespace

class TestStripPicture : public QObject {
    Q_OBJECT
private slots:
    void screenShowsWhatIsSaved();
    void copyOffersPngWithAlphaThenImage_data();
    void copyOffersPngWithAlphaThenImage();
    void nothingToCopy_data();
    void nothingToCopy();
    void copyCommandIsNoMenuEntry();
    void stripCommandsNeedPreviewFirst_data();
    void stripCommandsNeedPreviewFirst();
    void ctrlEOpensStickerDialogOnPreview();
    void exportPreviewsChangedControlsFirst_data();
    void exportPreviewsChangedControlsFirst();
    void dragShowsTheTransparentStrip();
    void stripMenuHoldsCopyAndExport();
};

// After any sequence of previews the visible part of the output area on
// screen and the captured picture are the same pixels, including a strip
// wider than the preview region.
void TestStripPicture::screenShowsWhatIsSaved()
{
    ShownWindow w;
    QVERIFY(w.ready);
    const qreal ratio = w.frm.devicePixelRatioF();
    const QString phrase = QStringLiteral("fjWg我们Ag&1");

    struct Step {
        int horz, vert, spacing, colourMode;
    };
    for (const Step step : {Step{2, 2, 0, 1}, Step{1, 1, 36, 2}, Step{3, 3, 12, 3}, Step{1, 1, 36, 1}}) {
        w.preview(phrase, step.horz, step.vert, step.spacing, step.colourMode);
        const QRect area = w.ui.pnlMain->geometry();
        const QImage saved = imageOf(CaptureOutputArea(w.ui.pnlMain));
        QCOMPARE(saved.size(), scaled(area.size(), ratio));

        // In the window's physical pixels: where the output area's picture
        // lies, and the part of it the preview region shows.
        const QPoint region = physical(w.ui.pnlsave->pos(), ratio);
        const QRect placed(physical(w.ui.pnlsave->pos() + area.topLeft(), ratio), saved.size());
        const QRect visible = placed.intersected(QRect(region, scaled(w.ui.pnlsave->size(), ratio)));
        QVERIFY(!visible.isEmpty());
        const QImage savedPart = saved.copy(visible.translated(-placed.topLeft()));
        // The screen catches up with the preview in its own time.
        QTRY_COMPARE(differingPixels(onScreen(w.frm).copy(visible), savedPart), 0);
    }
    // The last strip is wider than the region: the screen shows its middle.
    QVERIFY(w.ui.pnlMain->x() < 0);
    QVERIFY(w.reports.isEmpty());
}

void TestStripPicture::copyOffersPngWithAlphaThenImage_data()
{
    QTest::addColumn<QString>("focus"); // object name of the focused control
    QTest::newRow("typing the phrase") << QStringLiteral("edtMain");
    QTest::newRow("in the spacing field") << QStringLiteral("cxSpinEdit1");
    QTest::newRow("on the save button") << QStringLiteral("btnsave");
}

void TestStripPicture::copyOffersPngWithAlphaThenImage()
{
    QFETCH(QString, focus);
    ShownWindow w;
    QVERIFY(w.ready);
    // A gradient, bold and italic: every cell has its own colour, glyph
    // cores are wide and edges slanted.
    w.ui.chkbold->setChecked(true);
    w.ui.chkstatic->setChecked(true);
    w.preview(QStringLiteral("fjWg我们Ag&1"), 2, 2, 8, 2);
    const qreal ratio = w.frm.devicePixelRatioF();
    const QImage saved = imageOf(CaptureOutputArea(w.ui.pnlMain));
    QGuiApplication::clipboard()->clear();

    QWidget *focused = w.frm.findChild<QWidget *>(focus);
    QVERIFY(focused);
    w.pressCopy(focused);

    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QVERIFY(data->formats().size() >= 2);
    QCOMPARE(data->formats().first(), QStringLiteral("image/png"));
    QVERIFY(data->hasImage());
    const QImage png = QImage::fromData(data->data(QStringLiteral("image/png")), "PNG");
    QVERIFY(png.hasAlphaChannel());
    QCOMPARE(png.size(), saved.size());
    QCOMPARE(saved.size(), scaled(w.ui.pnlMain->size(), ratio));
    // Qt makes every other picture type a program may ask for (BMP, JPEG,
    // ...) from the image, and those keep no alpha: the image is the saved
    // picture itself, opaque on white.
    const QImage bitmap = qvariant_cast<QImage>(data->imageData());
    QCOMPARE(bitmap.size(), saved.size());
    QVERIFY(!bitmap.hasAlphaChannel());
    QCOMPARE(differingPixels(bitmap, saved), 0);

    const QImage copied = png.convertToFormat(QImage::Format_ARGB32);
    QImage overWhite(copied.size(), QImage::Format_RGB32);
    overWhite.fill(Qt::white);
    QPainter(&overWhite).drawImage(QPoint(0, 0), copied);

    QList<QRgb> inks;
    for (const Cell &cell : w.ui.pnlMain->findChild<StripView *>()->layout().cells)
        inks.append(toQColor(*cell.colour).rgb());
    int ground = 0, opaqueCores = 0, softEdges = 0, largestDifference = 0;
    for (int y = 0; y < copied.height(); ++y)
        for (int x = 0; x < copied.width(); ++x) {
            const QRgb copy = copied.pixel(x, y), save = saved.pixel(x, y), flat = overWhite.pixel(x, y);
            if (whiteAround(saved, x, y)) {
                QCOMPARE(qAlpha(copy), 0);
                ++ground;
            }
            if (inks.contains(save | 0xFF000000u)) {
                QCOMPARE(copy, save | 0xFF000000u);
                ++opaqueCores;
            }
            softEdges += qAlpha(copy) > 0 && qAlpha(copy) < 255;
            largestDifference =
                std::max({largestDifference, std::abs(qRed(flat) - qRed(save)),
                          std::abs(qGreen(flat) - qGreen(save)), std::abs(qBlue(flat) - qBlue(save))});
        }
    QVERIFY(ground > copied.width() * copied.height() / 2);
    QVERIFY(opaqueCores > 1000);
    QVERIFY2(softEdges > 500, qPrintable(QString::number(softEdges)));
    QVERIFY2(largestDifference <= 3, qPrintable(QString::number(largestDifference)));

    // The note shows beside the button, leaves the focus where it was and
    // goes away by itself.
    QVERIFY(w.ui.lblcopy->isVisible());
    QCOMPARE(w.ui.lblcopy->text(), QStringLiteral("已复制到剪贴板"));
    QCOMPARE(QApplication::focusWidget(), focused);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ui.lblcopy->isVisible(), 10000);
    QVERIFY(w.reports.isEmpty());
}

void TestStripPicture::nothingToCopy_data()
{
    QTest::addColumn<QString>("phrase"); // empty: no preview at all
    QTest::addColumn<QString>("note");
    QTest::newRow("before any preview") << QString() << QStringLiteral("请先预览");
    QTest::newRow("a strip of spaces") << QStringLiteral("   ") << QStringLiteral("没有可复制的图片");
}

void TestStripPicture::nothingToCopy()
{
    QFETCH(QString, phrase);
    QFETCH(QString, note);
    ShownWindow w;
    QVERIFY(w.ready);
    if (!phrase.isEmpty())
        w.preview(phrase, 1, 1, 0, 1);
    QGuiApplication::clipboard()->setText(QStringLiteral("用户自己的文字"));

    w.pressCopy(w.ui.edtMain);

    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("用户自己的文字"));
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasImage());
    QVERIFY(w.ui.lblcopy->isVisible());
    QCOMPARE(w.ui.lblcopy->text(), note);
    QVERIFY(w.reports.isEmpty());
}

void TestStripPicture::copyCommandIsNoMenuEntry()
{
    ShownWindow w;
    QVERIFY(w.ready);
    QCOMPARE(w.ui.btnsave->toolTip(), QStringLiteral("Ctrl+Shift+C 复制图片到剪贴板"));
    QStringList entries;
    for (const QAction *entry : w.ui.pm1->actions())
        entries.append(entry->text());
    QCOMPARE(entries, (QStringList{QStringLiteral("BMP格式"), QStringLiteral("PNG格式")}));
}

void TestStripPicture::stripCommandsNeedPreviewFirst_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("copy") << "actCopy";
    QTest::newRow("export") << "actExport";
}

void TestStripPicture::stripCommandsNeedPreviewFirst()
{
    QFETCH(QString, entry);
    ShownWindow w;
    QVERIFY(w.ready);
    auto *action = w.frm.findChild<QAction *>(entry);
    QVERIFY(action);
    action->trigger();
    QVERIFY(w.ui.lblcopy->isVisible());
    QCOMPARE(w.ui.lblcopy->text(), QStringLiteral("请先预览"));
    QVERIFY(!w.frm.stickerDialog());
    QVERIFY(w.reports.isEmpty());
}

void TestStripPicture::ctrlEOpensStickerDialogOnPreview()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.preview(QStringLiteral("加油"), 1, 1, 0, 2); // gradient
    w.ui.edtMain->setFocus();
    QTest::keyClick(w.ui.edtMain, Qt::Key_E, Qt::ControlModifier);
    StickerDialog *dialog = w.frm.stickerDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("导出贴纸"));
    QSignalSpy updated(dialog, &StickerDialog::stickerUpdated);
    QVERIFY(dialog->sticker() || updated.wait());
    // The sticker is the preview's own strip.
    const auto *shown = w.ui.pnlMain->findChild<StripView *>();
    QVERIFY(shown);
    const Sticker expected = makeSticker(shown->layout(), shown->ink(), dialog->choices().options());
    QCOMPARE(dialog->sticker()->bytes, expected.bytes);
    QVERIFY(w.reports.isEmpty());
    dialog->close();
    QTRY_VERIFY(!w.frm.stickerDialog());
}

void TestStripPicture::exportPreviewsChangedControlsFirst_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("phrase"); // the phrase the dialog is for; "" when none opens
    QTest::addColumn<bool>("previewedAgain");
    QTest::newRow("nothing changed: the random colours stay") << ""
                                                              << "加油" << false;
    QTest::newRow("phrase changed") << "phrase"
                                    << "冲冲冲" << true;
    QTest::newRow("bold changed") << "bold"
                                  << "加油" << true;
    QTest::newRow("phrase emptied: nothing to export") << "empty"
                                                       << "" << true;
}

void TestStripPicture::exportPreviewsChangedControlsFirst()
{
    QFETCH(QString, change);
    QFETCH(QString, phrase);
    QFETCH(bool, previewedAgain);
    ShownWindow w;
    QVERIFY(w.ready);
    w.preview(QStringLiteral("加油"), 1, 1, 0, 1); // random colours
    const QPointer<const StripView> before = w.ui.pnlMain->findChild<StripView *>();
    QVERIFY(before);
    if (change == QLatin1String("phrase"))
        w.ui.edtMain->setText(QStringLiteral("冲冲冲"));
    else if (change == QLatin1String("bold"))
        w.ui.chkbold->setChecked(true);
    else if (change == QLatin1String("empty"))
        w.ui.edtMain->clear();

    w.frm.findChild<QAction *>(QStringLiteral("actExport"))->trigger();
    const auto *shown = w.ui.pnlMain->findChild<StripView *>();
    QCOMPARE(shown != before.data(), previewedAgain);
    StickerDialog *dialog = w.frm.stickerDialog();
    if (phrase.isEmpty()) {
        QVERIFY(!dialog);
        QCOMPARE(w.ui.lblcopy->text(), QStringLiteral("没有可导出的图片"));
        return;
    }
    QVERIFY(dialog);
    QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblPhrase"))->text(), phrase);
    QSignalSpy updated(dialog, &StickerDialog::stickerUpdated);
    QVERIFY(dialog->sticker() || updated.wait());
    // The sticker is of the strip now on show, which the controls made.
    QCOMPARE(shown->layout().cells.size(), std::size_t(phrase.size()));
    QCOMPARE(shown->layout().settings.bold, change == QLatin1String("bold"));
    const Sticker expected = makeSticker(shown->layout(), shown->ink(), dialog->choices().options());
    QCOMPARE(dialog->sticker()->bytes, expected.bytes);
    QVERIFY(w.reports.isEmpty());
    dialog->close();
    QTRY_VERIFY(!w.frm.stickerDialog());
}

void TestStripPicture::dragShowsTheTransparentStrip()
{
    ShownWindow w;
    QVERIFY(w.ready);
    w.preview(QStringLiteral("加油"), 1, 1, 0, 2);
    const auto *shown = w.ui.pnlMain->findChild<StripView *>();
    QVERIFY(shown);
    const std::unique_ptr<QMimeData> data = stripMimeData(shown->layout(), shown->ink(), 1.0);
    QVERIFY(data && data->hasImage());
    const QImage picture = dragPicture(*data);
    QVERIFY(picture.hasAlphaChannel());
    QVERIFY(picture.height() <= 64);
    // The ground around the glyphs is clear, not the saved picture's white.
    for (const QPoint corner : {QPoint(0, 0), QPoint(picture.width() - 1, 0), QPoint(0, picture.height() - 1),
                                QPoint(picture.width() - 1, picture.height() - 1)})
        QCOMPARE(qAlpha(picture.pixel(corner)), 0);
}

void TestStripPicture::stripMenuHoldsCopyAndExport()
{
    ShownWindow w;
    QVERIFY(w.ready);
    auto *menu = w.frm.findChild<QMenu *>(QStringLiteral("pmStrip"));
    QVERIFY(menu);
    QStringList entries;
    for (const QAction *entry : menu->actions())
        entries << entry->text() + QLatin1Char(' ') + entry->shortcut().toString();
    QCOMPARE(entries, (QStringList{QStringLiteral("复制 Ctrl+Shift+C"), QStringLiteral("导出贴纸… Ctrl+E")}));
    QCOMPARE(w.ui.pm1->actions().size(), 2);

    // A right click on the output area opens it there; elsewhere it does not.
    const QPoint onStrip = w.ui.pnlMain->mapTo(&w.frm, w.ui.pnlMain->rect().center());
    const QPoint offStrip(5, w.frm.height() - 5);
    QContextMenuEvent outside(QContextMenuEvent::Mouse, offStrip, w.frm.mapToGlobal(offStrip));
    QApplication::sendEvent(&w.frm, &outside);
    QVERIFY(!menu->isVisible());
    QContextMenuEvent inside(QContextMenuEvent::Mouse, onStrip, w.frm.mapToGlobal(onStrip));
    QApplication::sendEvent(&w.frm, &inside);
    QTRY_VERIFY(menu->isVisible());
    menu->close();
}

QTEST_MAIN(TestStripPicture)
#include "tst_strip_picture.moc"
