#include "app/kit/colour_edit.h"
#include "app/kit/panel.h"
#include "app/kit/radio_group.h"
#include "app/kit/save_dialog.h"
#include "app/kit/spin_edit.h"
#include "app/window/MainUnt.h"
#include "composition/colouring.h"
#include "file_dialog_typing.h"
#include "jobs/render_job.h"
#include "window_parts.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kFace = QStringLiteral("WenQuanYi Micro Hei");

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Saves through the window's own menu entry: answers the save dialog, once it
// is up, with `path`, as a user typing the name would.
void saveThrough(QAction *entry, QFileDialog *dialog, const QString &path)
{
    QTimer::singleShot(0, dialog, [dialog, path] {
        dialog->setDirectory(QFileInfo(path).absolutePath());
        QVERIFY(typeFileNameAndAccept(dialog, QFileInfo(path).fileName()));
    });
    entry->trigger();
}

} // namespace

// The command writes the very file the window saves for the same settings
// and the same colours: both are given one generator seed, the window through
// its colour source, the command through --seed; on a scaled screen, the
// command is given the screen's ratio through --scale.
class TestWindowMatch : public QObject {
    Q_OBJECT

private slots:
    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
};

void TestWindowMatch::sameBytesAsTheWindow_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<bool>("strikeOut");
    QTest::addColumn<int>("horzAlign");
    QTest::addColumn<int>("vertAlign");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("colourMode");
    QTest::addColumn<uint>("seed");

    QTest::newRow("random, window defaults")
        << kInitialPhrase << false << false << false << false << 1 << 1 << 0 << 1 << 11u;
    QTest::newRow("random, every style, right and bottom, spacing 36")
        << QStringLiteral("fjWg我们Ag&1") << true << true << true << true << 3 << 3 << 36 << 1 << 12345u;
    QTest::newRow("random, centred, one character")
        << QStringLiteral("喊") << false << true << false << false << 2 << 2 << 7 << 1 << 0u;
    QTest::newRow("gradient, ten characters") << QStringLiteral("一二三四五六七八九十") << false << false
                                              << true << false << 2 << 3 << 20 << 2 << 1u;
    QTest::newRow("default colour") << QStringLiteral(" 大声说 ") << true << false << false << true << 1 << 2
                                    << 5 << 3 << 1u;
}

void TestWindowMatch::sameBytesAsTheWindow()
{
    QFETCH(QString, phrase);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(bool, underline);
    QFETCH(bool, strikeOut);
    QFETCH(int, horzAlign);
    QFETCH(int, vertAlign);
    QFETCH(int, spacing);
    QFETCH(int, colourMode);
    QFETCH(uint, seed);
    const ColourValue start = colourValue(10, 200, 30), end = colourValue(250, 0, 120);

    TMainFrm frm([] { return QList<FontFace>{{kFace, true}}; });
    QStringList reports;
    frm.setErrorReporter([&reports](QWidget *, const QString &message) { reports << message; });
    const WindowParts ui(frm);
    QSignalSpy arrived(ui.cbbfont, &FontNameList::listArrived);
    QVERIFY(ui.cbbfont->isFilled() || arrived.wait());
    frm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frm));
    ui.edtMain->setText(phrase);
    ui.chkbold->setChecked(bold);
    ui.chkstatic->setChecked(italic);
    ui.chkul->setChecked(underline);
    ui.chkso->setChecked(strikeOut);
    ui.cxRadioGroup2->setItemIndex(horzAlign - 1);
    ui.cxRadioGroup1->setItemIndex(vertAlign - 1);
    ui.cxSpinEdit1->setValue(spacing);
    ui.cxRadioGroup3->setItemIndex(colourMode - 1);
    ui.dxColorEdit1->setColour(start);
    ui.dxColorEdit2->setColour(end);
    QCOMPARE(frm.readStripSettings().faceName, kFace);

    LcgColourSource windowColours(seed);
    frm.setColourSource(&windowColours);
    frm.btnPreviewClick();
    frm.setColourSource(nullptr);

    RenderJob job;
    job.settings.text = phrase;
    job.settings.faceName = kFace;
    job.settings.bold = bold;
    job.settings.italic = italic;
    job.settings.underline = underline;
    job.settings.strikeOut = strikeOut;
    job.settings.horzAlign = HorzAlign(horzAlign);
    job.settings.vertAlign = VertAlign(vertAlign);
    job.settings.spacing = spacing;
    job.settings.colourMode = ColourMode(colourMode);
    job.settings.startColour = start;
    job.settings.endColour = end;
    job.seed = seed;
    // On a scaled screen the window saves device pixels; --scale stands for
    // that ratio (the second run of this test has Qt scale by two).
    job.scale = frm.devicePixelRatioF();

    QTemporaryDir folder;
    for (const bool png : {true, false}) {
        const QString saved =
            folder.filePath(png ? QStringLiteral("window.png") : QStringLiteral("window.bmp"));
        saveThrough(png ? ui.PNG1 : ui.N1, frm.SaveDialog1(), saved);
        job.output = folder.filePath(png ? QStringLiteral("command.png") : QStringLiteral("command.bmp"));
        job.format = outputFormatNamed(png ? u"png" : u"bmp");
        runRenderJob(job);
        QCOMPARE(reports, QStringList());
        const QByteArray expected = contents(saved);
        QVERIFY(!expected.isEmpty());
        QVERIFY2(contents(job.output) == expected, png ? "PNG differs" : "BMP differs");
    }
}

QTEST_MAIN(TestWindowMatch)
#include "tst_window_match.moc"
