#include "app/app_icon.h"
#include "app/chinese_ui.h"
#include "app/colour_edit.h"
#include "app/dock_layout.h"
#include "app/error_report.h"
#include "app/font_name_list.h"
#include "app/spin_edit.h"
#include "composition/quillow_error.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {

QList<FontFace> faces(const QStringList &names)
{
    QList<FontFace> result;
    for (const QString &name : names)
        result.append({name, !name.startsWith(QLatin1String("Fixed"))});
    return result;
}

FontEnumerator instant(const QStringList &names)
{
    return [list = faces(names)] { return list; };
}

// An enumerator that holds its worker until the test releases it.
struct Gate {
    std::shared_ptr<QSemaphore> open = std::make_shared<QSemaphore>(0);
    FontEnumerator enumerator(const QStringList &names) const
    {
        return [gate = open, list = faces(names)] {
            gate->acquire();
            return list;
        };
    }
    void release() const { open->release(); }
};

QStringList entries(const QComboBox &box)
{
    QStringList names;
    for (int i = 0; i < box.count(); ++i)
        names.append(box.itemText(i));
    return names;
}

// Picks `family` from the full list the way a user does: open the list, move
// to the entry, press Enter.
void pick(FontNameList &list, const QString &family)
{
    const int recent = int(list.recentFaces().size());
    const int index = int(entries(list).indexOf(family, recent));
    QVERIFY(index >= 0);
    list.showPopup();
    QAbstractItemView *view = list.view();
    QTRY_VERIFY(view->isVisible());
    view->setCurrentIndex(view->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void reportTextAppendsFullStopAboveCode46_data();
    void reportTextAppendsFullStopAboveCode46();
    void reportShowsInnermostMessage();
    void guardedHandlersNeverThrow_data();
    void guardedHandlersNeverThrow();
    void errorBoxIsCriticalWithOkAndExecutableTitle();

    void qtDialogsSpeakChinese();
    void applicationIconIsTheBundledPicture();

    void dockedChildrenFillTheirSides_data();
    void dockedChildrenFillTheirSides();

    void fontFacesSortCaseInsensitivelyOnce_data();
    void fontFacesSortCaseInsensitivelyOnce();
    void fontListKeepsNameUntilListArrives_data();
    void fontListKeepsNameUntilListArrives();
    void selectLastIsIgnoredWhileFilling();
    void recentFacesRepeatAtTopLatestFirst();
    void trueTypeFacesCarryTheirOwnIcon();

    void colourEditFallsBackToDefault();
    void colourGalleryPicksAndClears();

    void spinEditReadsItsField_data();
    void spinEditReadsItsField();
};

void TestControls::reportTextAppendsFullStopAboveCode46_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter gets a full stop") << "abc" << "abc.";
    QTest::newRow("full stop (46) stays single") << "abc." << "abc.";
    QTest::newRow("hyphen (45) gets none") << "x-" << "x-";
    QTest::newRow("comma (44) gets none") << "x," << "x,";
    QTest::newRow("exclamation (33) gets none") << "x!" << "x!";
    QTest::newRow("slash (47) gets one") << "x/" << "x/.";
    QTest::newRow("digit gets one") << "error 5" << "error 5.";
    QTest::newRow("closing quote (34) gets none") << "Cannot create file \"a\"" << "Cannot create file \"a\"";
    QTest::newRow("Chinese gets one") << "错误" << "错误.";
    QTest::newRow("Chinese full stop is above 46") << "错误。" << "错误。.";
    QTest::newRow("trailing space (32) gets none") << "x " << "x ";
    QTest::newRow("empty stays empty") << "" << "";
}

void TestControls::reportTextAppendsFullStopAboveCode46()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(errorReportText(message), shown);
}

void TestControls::reportShowsInnermostMessage()
{
    QString text;
    runGuarded(nullptr, [&](QWidget *, const QString &t) { text = t; }, [] {
        try {
            throw QuillowError(QStringLiteral("磁盘已满"));
        } catch (...) {
            std::throw_with_nested(std::runtime_error("outer"));
        }
    });
    QCOMPARE(text, QStringLiteral("磁盘已满."));
}

void TestControls::guardedHandlersNeverThrow_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QString>("text");
    QTest::newRow("no error reports nothing") << 0 << false << "";
    QTest::newRow("core error is reported") << 1 << true << "Cannot create file \"/x\". Permission denied.";
    QTest::newRow("silent abort reports nothing") << 2 << false << "";
    QTest::newRow("foreign exception is still reported") << 3 << true << "未知错误.";
    QTest::newRow("failing reporter is contained") << 4 << true << "boom.";
}

void TestControls::guardedHandlersNeverThrow()
{
    QFETCH(int, kind);
    QFETCH(bool, reported);
    QFETCH(QString, text);
    QStringList seen;
    const ErrorReporter reporter = [&](QWidget *, const QString &t) {
        seen.append(t);
        if (kind == 4)
            throw std::runtime_error("reporter failed too");
    };
    runGuarded(nullptr, reporter, [kind] {
        switch (kind) {
        case 1:
            throw QuillowError(QStringLiteral("Cannot create file \"/x\". Permission denied"));
        case 2:
            throw SilentAbort();
        case 3:
            throw 42;
        case 4:
            throw QuillowError(QStringLiteral("boom"));
        }
    });
    QCOMPARE(seen.size(), reported ? 1 : 0);
    if (reported)
        QCOMPARE(seen.first(), text);
}

void TestControls::errorBoxIsCriticalWithOkAndExecutableTitle()
{
    QWidget owner;
    owner.show();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton *> buttons;
    bool plain = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->buttons();
        plain = box->textFormat() == Qt::PlainText;
        QTest::keyClick(box, Qt::Key_Return);
    });
    showErrorReport(&owner, QStringLiteral("无法创建文件 \"<b>a</b>\"."));
    QCOMPARE(title, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QCOMPARE(text, QStringLiteral("无法创建文件 \"<b>a</b>\"."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons.size(), 1);
    QVERIFY(plain);
}

void TestControls::qtDialogsSpeakChinese()
{
    QVERIFY(installChineseUi(*QCoreApplication::instance()));
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QCOMPARE(QLocale().language(), QLocale::Chinese);
    QCOMPARE(QLocale().territory(), QLocale::China);
}

// The icon comes from the SVG built into the program, drawn by Qt's SVG icon
// engine: a missing resource or engine leaves the window without an icon.
void TestControls::applicationIconIsTheBundledPicture()
{
    const QImage picture = appIcon().pixmap(QSize(64, 64)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(picture.size(), QSize(64, 64));
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);              // outside the rounded card
    QCOMPARE(picture.pixelColor(30, 10), QColor(Qt::white)); // the card
    QCOMPARE(picture.pixelColor(47, 25), QColor(230, 30, 30)); // the largest, red mark
}

void TestControls::dockedChildrenFillTheirSides_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("top");
    QTest::addColumn<QRect>("bottom");
    QTest::addColumn<QRect>("left");
    QTest::addColumn<QRect>("right");
    QTest::addColumn<QRect>("fill");
    QTest::newRow("design size") << QSize(300, 200) << QRect(0, 0, 300, 30) << QRect(0, 150, 300, 50)
                                 << QRect(0, 30, 40, 120) << QRect(280, 30, 20, 120)
                                 << QRect(40, 30, 240, 120);
    QTest::newRow("grown window only grows the fill")
        << QSize(500, 400) << QRect(0, 0, 500, 30) << QRect(0, 350, 500, 50) << QRect(0, 30, 40, 320)
        << QRect(480, 30, 20, 320) << QRect(40, 30, 440, 320);
}

void TestControls::dockedChildrenFillTheirSides()
{
    QFETCH(QSize, size);
    QFETCH(QRect, top);
    QFETCH(QRect, bottom);
    QFETCH(QRect, left);
    QFETCH(QRect, right);
    QFETCH(QRect, fill);
    QWidget host;
    auto *dock = new DockLayout(&host);
    QWidget *const docked[] = {new QWidget, new QWidget, new QWidget, new QWidget, new QWidget};
    dock->addDocked(docked[0], Dock::Top, 30);
    dock->addDocked(docked[1], Dock::Bottom, 50);
    dock->addDocked(docked[2], Dock::Left, 40);
    dock->addDocked(docked[3], Dock::Right, 20);
    dock->addDocked(docked[4], Dock::Fill);
    host.resize(size);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QTRY_COMPARE(host.size(), size);
    QCOMPARE(docked[0]->geometry(), top);
    QCOMPARE(docked[1]->geometry(), bottom);
    QCOMPARE(docked[2]->geometry(), left);
    QCOMPARE(docked[3]->geometry(), right);
    QCOMPARE(docked[4]->geometry(), fill);
}

void TestControls::fontFacesSortCaseInsensitivelyOnce_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("case does not order")
        << QStringList{"zeta", "Beta", "alpha", "Delta"} << QStringList{"alpha", "Beta", "Delta", "zeta"};
    QTest::newRow("each name once")
        << QStringList{"Noto", "Arial", "Noto", "Arial"} << QStringList{"Arial", "Noto"};
    QTest::newRow("empty list") << QStringList{} << QStringList{};
}

void TestControls::fontFacesSortCaseInsensitivelyOnce()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, sorted);
    QStringList result;
    for (const FontFace &face : sortedFaces(faces(names), QLocale(QLocale::English)))
        result.append(face.family);
    QCOMPARE(result, sorted);
}

void TestControls::fontListKeepsNameUntilListArrives_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("face");
    QTest::newRow("named face installed is selected")
        << QStringList{"Arial", "微软雅黑", "Zeta"} << QStringLiteral("微软雅黑");
    QTest::newRow("named face missing selects nothing") << QStringList{"Arial", "Zeta"} << QString();
}

void TestControls::fontListKeepsNameUntilListArrives()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, face);
    Gate gate;
    FontNameList list(QStringLiteral("cbbfont"), gate.enumerator(installed), nullptr);
    list.setCurrentFace(QStringLiteral("微软雅黑"));
    list.show();
    QCOMPARE(list.currentFace(), QStringLiteral("微软雅黑"));
    QVERIFY(!list.isFilled());

    QSignalSpy arrived(&list, &FontNameList::listArrived);
    gate.release();
    QVERIFY(arrived.wait());
    QVERIFY(list.isFilled());
    QCOMPARE(list.count(), installed.size());
    QCOMPARE(list.currentFace(), face);
    QCOMPARE(list.currentIndex() >= 0, !face.isEmpty());
}

void TestControls::selectLastIsIgnoredWhileFilling()
{
    Gate gate;
    FontNameList list(QStringLiteral("cbbfont"), gate.enumerator({"b", "A", "c"}), nullptr);
    list.setCurrentFace(QStringLiteral("A"));
    list.selectLast();
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    gate.release();
    QVERIFY(arrived.wait());
    QCOMPARE(list.currentFace(), QStringLiteral("A"));
    list.selectLast();
    QCOMPARE(list.currentFace(), QStringLiteral("c"));
}

void TestControls::recentFacesRepeatAtTopLatestFirst()
{
    QStringList installed;
    for (char c = 'A'; c <= 'N'; ++c)
        installed.append(QStringLiteral("Face %1").arg(QLatin1Char(c)));
    FontNameList list(QStringLiteral("cbbfont"), instant(installed), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    pick(list, QStringLiteral("Face C"));
    pick(list, QStringLiteral("Face A"));
    QCOMPARE(list.recentFaces(), (QStringList{"Face A", "Face C"}));
    QCOMPARE(list.currentFace(), QStringLiteral("Face A"));
    QCOMPARE(entries(list).mid(2), installed);

    pick(list, QStringLiteral("Face C"));
    QCOMPARE(list.recentFaces(), (QStringList{"Face C", "Face A"}));

    for (const QString &face : installed.mid(2, 10))
        pick(list, face);
    const QStringList expected{"Face L", "Face K", "Face J", "Face I", "Face H",
                               "Face G", "Face F", "Face E", "Face D", "Face C"};
    QCOMPARE(list.recentFaces(), expected);
    QCOMPARE(entries(list).first(FontNameList::kRecentLimit), expected);
    QCOMPARE(entries(list).mid(FontNameList::kRecentLimit), installed);
}

void TestControls::trueTypeFacesCarryTheirOwnIcon()
{
    FontNameList list(QStringLiteral("cbbfont"), instant({"Fixed 6x13", "Outline Sans"}), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    const QImage bitmapIcon = list.itemIcon(0).pixmap(16, 16).toImage();
    const QImage outlineIcon = list.itemIcon(1).pixmap(16, 16).toImage();
    QVERIFY(!bitmapIcon.isNull());
    QVERIFY(!outlineIcon.isNull());
    QVERIFY(bitmapIcon != outlineIcon);
}

void TestControls::colourEditFallsBackToDefault()
{
    ColourEdit edit(QStringLiteral("dxColorEdit1"), kDefaultStartColour, nullptr);
    QVERIFY(!edit.isSet());
    QCOMPARE(edit.colour(), ColourValue(16711680));
    edit.setColour(colourValue(1, 2, 3));
    QCOMPARE(edit.colour(), colourValue(1, 2, 3));
    edit.clear();
    QCOMPARE(edit.colour(), ColourValue(16711680));
}

void TestControls::colourGalleryPicksAndClears()
{
    ColourEdit edit(QStringLiteral("dxColorEdit2"), kDefaultEndColour, nullptr);
    edit.resize(97, 29);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QSignalSpy changed(&edit, &ColourEdit::colourChanged);

    QTest::mouseClick(&edit, Qt::LeftButton, {}, edit.rect().center());
    QTRY_VERIFY(edit.gallery()->isVisible());
    QToolButton *swatch = edit.gallery()->swatches().at(13);
    const auto swatchColour = swatch->property("colour").value<ColourValue>();
    QTest::mouseClick(swatch, Qt::LeftButton);
    QTRY_VERIFY(!edit.gallery()->isVisible());
    QCOMPARE(edit.colour(), swatchColour);
    QVERIFY(edit.isSet());
    QCOMPARE(edit.grab().toImage().pixelColor(edit.width() / 3, edit.height() / 2), toQColor(swatchColour));

    QTest::keyClick(&edit, Qt::Key_F4);
    QTRY_VERIFY(edit.gallery()->isVisible());
    QTest::mouseClick(edit.gallery()->defaultButton(), Qt::LeftButton);
    QTRY_VERIFY(!edit.gallery()->isVisible());
    QVERIFY(!edit.isSet());
    QCOMPARE(edit.colour(), ColourValue(255));
    QCOMPARE(changed.size(), 2);
}

void TestControls::spinEditReadsItsField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("spacing");
    QTest::newRow("emptied field is 0") << "" << 0;
    QTest::newRow("typed number") << "12" << 12;
    QTest::newRow("maximum") << "36" << 36;
    QTest::newRow("past the maximum is refused") << "37" << 3;
}

void TestControls::spinEditReadsItsField()
{
    QFETCH(QString, typed);
    QFETCH(int, spacing);
    SpinEdit spin(QStringLiteral("cxSpinEdit1"), 0, 36, nullptr);
    spin.setValue(5);
    spin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&spin));
    spin.setFocus();
    QTest::keyClick(&spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&spin, Qt::Key_Backspace);
    QTest::keyClicks(&spin, typed);
    QCOMPARE(spin.fieldValue(), spacing);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
