#include "app/fontlist/font_name_list.h"
#include "app/fontlist/own_name_mask.h"
#include "app/kit/colour_edit.h"
#include "app/kit/dock_layout.h"
#include "app/kit/group_look.h"
#include "app/kit/panel.h"
#include "app/kit/spin_edit.h"
#include "app/shell/app_icon.h"
#include "app/shell/chinese_ui.h"
#include "app/shell/error_report.h"
#include "app/shell/startup.h"
#include "composition/quillow_error.h"
#include "composition/strip_settings.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTextLayout>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTranslator>
#include <QtTest>

#include <new>

#include <memory>

namespace {

using Thrower = std::function<void()>;

} // namespace

Q_DECLARE_METATYPE(Thrower)

namespace {

QList<FontFace> faces(const QStringList &names)
{
    QList<FontFace> result;
    for (const QString &name : names)
        result.append({name, !name.startsWith(QLatin1String("Fixed")), name.contains(QLatin1String("Hei"))});
    return result;
}

FontEnumerator instant(const QStringList &names)
{
    return [list = faces(names)] { return list; };
}

// Counts the paint events `widget` receives.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget &widget, int &count) : m_count(count) { widget.installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_count;
        return false;
    }

private:
    int &m_count;
};

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
    const int index = int(entries(list).indexOf(family, list.fullListStart()));
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
    void ownNameMaskOnlyForTheFaceItself_data();
    void ownNameMaskOnlyForTheFaceItself();
    void onlyHarmlessQtWarningsAreDropped_data();
    void onlyHarmlessQtWarningsAreDropped();
    void swatchStaysInsideItsFrame_data();
    void swatchStaysInsideItsFrame();
    void reportTextAppendsFullStopAboveCode46_data();
    void reportTextAppendsFullStopAboveCode46();
    void reportShowsInnermostMessage();
    void guardedHandlersNeverThrow_data();
    void guardedHandlersNeverThrow();
    void errorBoxIsCriticalWithOkAndExecutableTitle();
    void errorBoxLeavesNoCharacterAlone_data();
    void errorBoxLeavesNoCharacterAlone();

    void qtDialogsSpeakChinese();
    void applicationIconIsTheBundledPicture();

    void dockedChildrenFillTheirSides_data();
    void dockedChildrenFillTheirSides();

    void fontFacesSortCaseInsensitivelyOnce_data();
    void fontFacesSortCaseInsensitivelyOnce();
    void fontListKeepsNameUntilListArrives_data();
    void fontListKeepsNameUntilListArrives();
    void selectLastWhileFillingStartsAtLastEntry();
    void fontListWaitsForFirstPaint();
    void recentFacesRepeatAtTopLatestFirst();
    void faceIconsTellKindAndChinese();
    void namesDrawnInTheirOwnFaceWhereItCan();
    void onlyPaintedEntriesLoadTheirFace();
    void openListIsWideEnoughForLongestName();
    void emptyBoxShowsDefaultFaceInGrey();
    void cutTextShowsInFullOnHover_data();
    void cutTextShowsInFullOnHover();
    void wheelAndArrowsWalkTheWholeList_data();
    void wheelAndArrowsWalkTheWholeList();

    void colourEditFallsBackToDefault();
    void colourGalleryPicksAndClears();

    void spinEditReadsItsField_data();
    void spinEditReadsItsField();

    void groupFrameIsOneAntialiasedStroke_data();
    void groupFrameIsOneAntialiasedStroke();
    void panelKeepsItsMarginWhenDockedAgain();
    void inputTransparencyCoversLaterChildren();
};

void TestControls::reportTextAppendsFullStopAboveCode46_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter gets a full stop") << "abc"
                                             << "abc.";
    QTest::newRow("full stop (46) stays single") << "abc."
                                                 << "abc.";
    QTest::newRow("hyphen (45) gets none") << "x-"
                                           << "x-";
    QTest::newRow("comma (44) gets none") << "x,"
                                          << "x,";
    QTest::newRow("exclamation (33) gets none") << "x!"
                                                << "x!";
    QTest::newRow("slash (47) gets one") << "x/"
                                         << "x/.";
    QTest::newRow("digit gets one") << "error 5"
                                    << "error 5.";
    QTest::newRow("closing quote (34) gets none") << "Cannot create file \"a\""
                                                  << "Cannot create file \"a\"";
    QTest::newRow("Chinese gets one") << "错误"
                                      << "错误.";
    QTest::newRow("Chinese full stop ends the sentence") << "错误。"
                                                         << "错误。";
    QTest::newRow("full-width exclamation ends it") << "错误！"
                                                    << "错误！";
    QTest::newRow("full-width question ends it") << "错误？"
                                                 << "错误？";
    QTest::newRow("question mark (63) ends it") << "why?"
                                                << "why?";
    QTest::newRow("full-width comma gets one") << "错误，"
                                               << "错误，.";
    QTest::newRow("trailing space (32) gets none") << "x "
                                                   << "x ";
    QTest::newRow("empty stays empty") << ""
                                       << "";
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
    runGuarded(
        nullptr, [&](QWidget *, const QString &t) { text = t; },
        [] {
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
    QTest::addColumn<Thrower>("handler");
    QTest::addColumn<bool>("reporterFails");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<QString>("text");
    QTest::newRow("no error reports nothing") << Thrower([] {}) << false << false << "";
    QTest::newRow("core error is reported")
        << Thrower([] { throw QuillowError(QStringLiteral("Cannot create file \"/x\". Permission denied")); })
        << false << true << "Cannot create file \"/x\". Permission denied.";
    QTest::newRow("running out of memory is said in Chinese")
        << Thrower([] { throw std::bad_alloc(); }) << false << true << "内存不足，无法画出这张图片。";
    QTest::newRow("foreign exception is still reported")
        << Thrower([] { throw 42; }) << false << true << "未知错误.";
    QTest::newRow("failing reporter is contained")
        << Thrower([] { throw QuillowError(QStringLiteral("boom")); }) << true << true << "boom.";
}

void TestControls::guardedHandlersNeverThrow()
{
    QFETCH(Thrower, handler);
    QFETCH(bool, reporterFails);
    QFETCH(bool, reported);
    QFETCH(QString, text);
    QStringList seen;
    const ErrorReporter reporter = [&](QWidget *, const QString &t) {
        seen.append(t);
        if (reporterFails)
            throw std::runtime_error("reporter failed too");
    };
    runGuarded(nullptr, reporter, handler);
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

namespace {

// The message as the box's label lays it out, line by line.
QStringList shownLines(const QLabel &label)
{
    QTextLayout layout(label.text(), label.font());
    QTextOption option;
    option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label.contentsRect().width());
        lines.append(label.text().mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

} // namespace

void TestControls::errorBoxLeavesNoCharacterAlone_data()
{
    // QMessageBox wraps a message at half the screen, at most 500 pixels.
    const int qtWrapWidth = std::min(QGuiApplication::primaryScreen()->availableGeometry().width() / 2, 500);
    const QFontMetrics metrics(QApplication::font("QMessageBox"));
    // A message a little longer than `factor` wrapping widths, ending in
    // "不存在." as the one that showed the fault.
    const auto messageOf = [&](double factor) {
        QString message =
            QStringLiteral("无法保存到 \"/home/用户/图片/新建文件夹/友谊的小船说翻就翻.png\"：");
        while (metrics.horizontalAdvance(message + QStringLiteral("文件夹不存在.")) <
               factor * qtWrapWidth + 4)
            message += QStringLiteral("上级");
        return message + QStringLiteral("文件夹不存在.");
    };
    QTest::addColumn<QString>("message");
    QTest::newRow("just past Qt's wrapping width") << messageOf(1.0);
    QTest::newRow("past one and a half times that width") << messageOf(1.7);
    QTest::newRow("just past twice that width") << messageOf(2.0);
    QTest::newRow("past three times that width") << messageOf(3.0);
}

void TestControls::errorBoxLeavesNoCharacterAlone()
{
    QFETCH(QString, message);
    QWidget owner;
    owner.show();
    QStringList shown;
    QFont shownFont;
    int boxWidth = 0;
    QRect textRoom;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (auto *label = box ? box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")) : nullptr) {
            shown = shownLines(*label);
            shownFont = label->font();
            boxWidth = box->frameGeometry().width();
            textRoom = label->contentsRect();
        }
        if (box)
            QTest::keyClick(box, Qt::Key_Return);
    });
    showErrorReport(&owner, message);
    QCOMPARE(shown.join(QString()), message);
    QVERIFY(boxWidth <= owner.screen()->availableGeometry().width());
    // No line is a stub of the others: the lines are of about equal width.
    const QFontMetrics metrics(shownFont);
    int widest = 0;
    for (const QString &line : std::as_const(shown))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    for (const QString &line : std::as_const(shown))
        QVERIFY2(metrics.horizontalAdvance(line) * 2 > widest, qPrintable(shown.join(QLatin1Char('|'))));
    // And nothing is cut off: every line fits the label, across and down.
    QVERIFY2(widest <= textRoom.width(),
             qPrintable(QStringLiteral("%1 > %2").arg(widest).arg(textRoom.width())));
    QVERIFY(textRoom.height() >= int(shown.size()) * metrics.height());
}

void TestControls::qtDialogsSpeakChinese()
{
    // Later tests in this program must not inherit the Chinese interface.
    const QLocale before;
    QTranslator *translator = installChineseUi(*QCoreApplication::instance());
    const auto restore = qScopeGuard([&] {
        if (translator) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QLocale::setDefault(before);
    });
    QVERIFY(translator);
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
    QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);                  // outside the rounded card
    QCOMPARE(picture.pixelColor(30, 10), QColor(Qt::white));   // the card
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
    QTest::newRow("each name once") << QStringList{"Noto", "Arial", "Noto", "Arial"}
                                    << QStringList{"Arial", "Noto"};
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

// Putting the list in is work the window's first appearance must not wait
// for: a list that is in before the shown control has been painted goes in
// just after that paint, and still goes in.
void TestControls::fontListWaitsForFirstPaint()
{
    Gate gate;
    FontNameList list(QStringLiteral("cbbfont"), gate.enumerator({"Arial", "Zeta"}), nullptr);
    int paints = 0;
    int paintsWhenArrived = -1;
    PaintCounter counter(list, paints);
    connect(&list, &FontNameList::listArrived, this, [&] { paintsWhenArrived = paints; });
    list.show();
    gate.release();
    QThreadPool::globalInstance()->waitForDone();

    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    QVERIFY(paintsWhenArrived > 0);
    QCOMPARE(list.count(), 2);
}

// The request to select the last entry made while the list is being filled
// is what the list starts with, over the name it was given.
void TestControls::selectLastWhileFillingStartsAtLastEntry()
{
    Gate gate;
    FontNameList list(QStringLiteral("cbbfont"), gate.enumerator({"b", "A", "c"}), nullptr);
    list.setCurrentFace(QStringLiteral("A"));
    list.selectLast();
    QCOMPARE(list.currentFace(), QStringLiteral("A"));
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    gate.release();
    QVERIFY(arrived.wait());
    QCOMPARE(list.currentFace(), QStringLiteral("c"));
    list.setCurrentFace(QStringLiteral("A"));
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
    QCOMPARE(list.fullListStart(), 3);
    QCOMPARE(entries(list).mid(3), installed);

    pick(list, QStringLiteral("Face C"));
    QCOMPARE(list.recentFaces(), (QStringList{"Face C", "Face A"}));

    for (const QString &face : installed.mid(2, 10))
        pick(list, face);
    const QStringList expected{"Face L", "Face K", "Face J", "Face I", "Face H",
                               "Face G", "Face F", "Face E", "Face D", "Face C"};
    QCOMPARE(list.recentFaces(), expected);
    QCOMPARE(entries(list).first(FontNameList::kRecentLimit), expected);
    QCOMPARE(list.itemData(FontNameList::kRecentLimit, Qt::AccessibleDescriptionRole).toString(),
             QStringLiteral("separator"));
    QCOMPARE(entries(list).mid(FontNameList::kRecentLimit + 1), installed);
}

void TestControls::faceIconsTellKindAndChinese()
{
    const QStringList names{"Fixed 6x13", "Fixed Hei", "Outline Hei", "Outline Sans"};
    FontNameList list(QStringLiteral("cbbfont"), instant(names), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    QCOMPARE(entries(list), names);
    QList<QImage> icons;
    for (int i = 0; i < list.count(); ++i) {
        icons.append(list.itemIcon(i).pixmap(list.iconSize()).toImage());
        QVERIFY(!icons.last().isNull());
    }
    // Four kinds, four different icons: bitmap or TrueType, with or without
    // the mark of a face that writes Simplified Chinese.
    for (int i = 0; i < icons.size(); ++i)
        for (int j = i + 1; j < icons.size(); ++j)
            QVERIFY2(icons[i] != icons[j], qPrintable(names[i] + " / " + names[j]));
    QCOMPARE(list.itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("可书写简体中文"));
    QVERIFY(!list.itemData(3, Qt::ToolTipRole).isValid());
}

void TestControls::namesDrawnInTheirOwnFaceWhereItCan()
{
    FontNameList list(QStringLiteral("cbbfont"), instant({"No Such Face", "WenQuanYi Micro Hei"}), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    // Loading every face costs memory; none is loaded until the list opens.
    QVERIFY(!list.itemData(1, Qt::FontRole).isValid());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.showPopup();
    QTRY_VERIFY(list.view()->isVisible());
    // A face is loaded when its entry is painted.
    QTRY_VERIFY(list.itemData(1, Qt::FontRole).isValid());
    list.hidePopup();
    const QVariant own = list.itemData(1, Qt::FontRole);
    QCOMPARE(own.value<QFont>().families(), QStringList{"WenQuanYi Micro Hei"});
    QCOMPARE(own.value<QFont>().pixelSize(), list.font().pixelSize());
    // A name no installed face carries is drawn in the list's own font.
    QVERIFY(!list.itemData(0, Qt::FontRole).isValid());
}

void TestControls::ownNameMaskOnlyForTheFaceItself_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("room");
    QTest::addColumn<bool>("drawn");
    QTest::newRow("a Latin face") << QStringLiteral("DejaVu Sans") << 400 << true;
    QTest::newRow("a Chinese face, its Latin name") << QStringLiteral("WenQuanYi Micro Hei") << 400 << true;
    QTest::newRow("wider than its room") << QStringLiteral("DejaVu Sans") << 20 << false;
    // Installed or not, a colour face draws pictures, not its name.
    QTest::newRow("a colour face") << QStringLiteral("Noto Color Emoji") << 400 << false;
    QTest::newRow("not installed") << QStringLiteral("No Such Face") << 400 << false;
    // Fontconfig answers every name with some face; a stand-in is not the
    // face the name promises.
    QTest::newRow("a name fontconfig stands in for") << QStringLiteral("Arial") << 400 << false;
}

void TestControls::ownNameMaskOnlyForTheFaceItself()
{
    QFETCH(QString, family);
    QFETCH(int, room);
    QFETCH(bool, drawn);
    const QImage mask = ownNameMask(family, 16, room, 1.0);
    QCOMPARE(!mask.isNull(), drawn);
    if (!drawn)
        return;
    QVERIFY(mask.width() <= room);
    QVERIFY(mask.height() >= 16 && mask.height() <= 32);
    int inked = 0;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            inked += qAlpha(mask.pixel(x, y)) > 128;
    QVERIFY2(inked > mask.width(), "the name leaves hardly any ink");

    // On a screen of twice the density the name has twice the pixels, and
    // takes the same room.
    const QImage sharp = ownNameMask(family, 16, room, 2.0);
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
    QVERIFY(qAbs(sharp.width() - 2 * mask.width()) <= 4);
    QVERIFY(qAbs(sharp.height() - 2 * mask.height()) <= 4);
}

// A face that cannot draw the letters of its own name (a colour emoji face
// has none) stays listed, its name in the list's font; and an entry never
// scrolled into view never loads its face.
void TestControls::onlyPaintedEntriesLoadTheirFace()
{
    QStringList names{"DejaVu Sans"};
    // More entries than the tallest open list shows on any test screen.
    for (int i = 0; i < 300; ++i)
        names.append(QStringLiteral("Missing Face %1").arg(i, 3, 10, QLatin1Char('0')));
    names += QStringList{"Noto Color Emoji", "WenQuanYi Micro Hei"};
    const bool emojiInstalled = QFontDatabase::hasFamily(QStringLiteral("Noto Color Emoji"));
    FontNameList list(QStringLiteral("cbbfont"), instant(names), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    QCOMPARE(list.count(), names.size());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.setCurrentIndex(0);
    list.showPopup();
    QTRY_VERIFY(list.view()->isVisible());
    QTRY_VERIFY(list.itemData(0, Qt::FontRole).isValid());
    const int last = list.count() - 1;
    QVERIFY(!list.itemData(last, Qt::FontRole).isValid());

    list.view()->scrollToBottom();
    QTRY_VERIFY(list.itemData(last, Qt::FontRole).isValid());
    QCOMPARE(list.itemText(last - 1), QStringLiteral("Noto Color Emoji"));
    if (emojiInstalled)
        QVERIFY(!list.itemData(last - 1, Qt::FontRole).isValid());
    list.hidePopup();
}

void TestControls::openListIsWideEnoughForLongestName()
{
    const QString longest = QStringLiteral("Extraordinarily Long Family Name Sans Condensed");
    FontNameList list(QStringLiteral("cbbfont"), instant({"A", longest, "B"}), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    list.resize(200, list.sizeHint().height());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.showPopup();
    QTRY_VERIFY(list.view()->isVisible());
    // Besides the name, each entry holds its icon and at least a line's
    // height of margins; an open list narrower than that cuts the name.
    const int needed =
        list.fontMetrics().horizontalAdvance(longest) + list.iconSize().width() + list.fontMetrics().height();
    QVERIFY2(list.view()->viewport()->width() >= needed,
             qPrintable(QStringLiteral("%1 < %2").arg(list.view()->viewport()->width()).arg(needed)));
    list.hidePopup();
}

void TestControls::emptyBoxShowsDefaultFaceInGrey()
{
    Gate gate;
    FontNameList list(QStringLiteral("cbbfont"), gate.enumerator({"Arial", "Zeta"}), nullptr);
    list.setCurrentFace(QStringLiteral("微软雅黑"));
    list.setDefaultFace(QStringLiteral("Zeta"));
    list.resize(200, list.sizeHint().height());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.placeholderText(), QStringLiteral("微软雅黑"));
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    gate.release();
    QVERIFY(arrived.wait());
    QCOMPARE(list.currentIndex(), -1);
    QCOMPARE(list.currentFace(), QString());
    QCOMPARE(list.placeholderText(), QStringLiteral("默认：Zeta"));

    // Painted in the placeholder colour, not as a choice: anti-aliased text
    // is never darker than its colour.
    QStyleOptionComboBox option;
    option.initFrom(&list);
    const QRect field =
        list.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &list);
    const QImage box = list.grab(field).toImage();
    int darkest = 255;
    for (int y = 0; y < box.height(); ++y)
        for (int x = 0; x < box.width(); ++x)
            darkest = std::min(darkest, qGray(box.pixel(x, y)));
    const int grey = qGray(list.palette().color(QPalette::PlaceholderText).rgb());
    QVERIFY2(darkest >= grey - 16 && darkest < 200,
             qPrintable(QStringLiteral("%1 vs %2").arg(darkest).arg(grey)));

    list.setCurrentFace(QStringLiteral("Zeta"));
    QCOMPARE(list.currentFace(), QStringLiteral("Zeta"));
}

void TestControls::cutTextShowsInFullOnHover_data()
{
    QTest::addColumn<QString>("face");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("tip");
    const QString longName = QStringLiteral("Extraordinarily Long Family Name Sans");
    QTest::newRow("default face cut short") << longName << false << QStringLiteral("默认：%1").arg(longName);
    QTest::newRow("selected name cut short") << longName << true << longName;
    QTest::newRow("default face that fits") << QStringLiteral("Zeta") << false << QString();
}

void TestControls::cutTextShowsInFullOnHover()
{
    QFETCH(QString, face);
    QFETCH(bool, selected);
    QFETCH(QString, tip);
    FontNameList list(QStringLiteral("cbbfont"), instant({face}), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    list.setDefaultFace(face);
    if (selected)
        list.setCurrentFace(face);
    list.resize(200, list.sizeHint().height());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    QToolTip::hideText();
    const QPoint at = list.rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, list.mapToGlobal(at));
    QApplication::sendEvent(&list, &hover);
    if (tip.isEmpty()) {
        QVERIFY(!QToolTip::isVisible());
    } else {
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), tip);
    }
    QToolTip::hideText();
}

void TestControls::wheelAndArrowsWalkTheWholeList_data()
{
    QTest::addColumn<bool>("wheel");
    QTest::newRow("mouse wheel") << true;
    QTest::newRow("arrow keys") << false;
}

void TestControls::wheelAndArrowsWalkTheWholeList()
{
    QFETCH(bool, wheel);
    const QStringList installed{"Face A", "Face B", "Face C", "Face D"};
    FontNameList list(QStringLiteral("cbbfont"), instant(installed), nullptr);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    QVERIFY(arrived.wait());
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    pick(list, QStringLiteral("Face D"));
    pick(list, QStringLiteral("Face B"));
    const QStringList recent{"Face B", "Face D"};
    QCOMPARE(list.recentFaces(), recent);

    const auto step = [&] {
        if (wheel) {
            const QPoint at = list.rect().center();
            QWheelEvent down(at, list.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                             Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&list, &down);
        } else {
            QTest::keyClick(&list, Qt::Key_Down);
        }
    };
    QStringList walked;
    for (int i = 0; i < 3; ++i) {
        step();
        walked.append(list.currentFace());
    }
    // Down the recent faces, over the line, into the full list; the recent
    // faces stay as they were.
    QCOMPARE(walked, (QStringList{"Face D", "Face A", "Face B"}));
    QCOMPARE(list.recentFaces(), recent);

    // Opening the list makes the face walked to a recent one.
    list.showPopup();
    QTRY_VERIFY(list.view()->isVisible());
    QCOMPARE(list.recentFaces(), recent);
    QCOMPARE(list.currentIndex(), 0);
    list.hidePopup();
    for (int i = 0; i < 4; ++i)
        step();
    QCOMPARE(list.currentFace(), QStringLiteral("Face C"));
    QCOMPARE(list.recentFaces(), recent);
    list.showPopup();
    QTRY_VERIFY(list.view()->isVisible());
    QCOMPARE(list.recentFaces(), (QStringList{"Face C", "Face B", "Face D"}));
    QCOMPARE(list.currentIndex(), 0);
    list.hidePopup();
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
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("spacing");
    QTest::newRow("emptied field is 0") << 0 << 36 << "" << 0;
    QTest::newRow("typed number") << 0 << 36 << "12" << 12;
    QTest::newRow("maximum") << 0 << 36 << "36" << 36;
    QTest::newRow("past the maximum is refused") << 0 << 36 << "37" << 3;
    // Its own bounds, not the spacing's 0..36.
    QTest::newRow("own maximum above 36") << 5 << 60 << "50" << 50;
    QTest::newRow("below own minimum clamps up") << 5 << 60 << "3" << 5;
    QTest::newRow("emptied field is 0 below own minimum") << 5 << 60 << "" << 0;
}

void TestControls::spinEditReadsItsField()
{
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(QString, typed);
    QFETCH(int, spacing);
    SpinEdit spin(QStringLiteral("cxSpinEdit1"), minimum, maximum, nullptr);
    spin.setValue(5);
    spin.show();
    QVERIFY(QTest::qWaitForWindowExposed(&spin));
    spin.setFocus();
    QTest::keyClick(&spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&spin, Qt::Key_Backspace);
    QTest::keyClicks(&spin, typed);
    QCOMPARE(spin.fieldValue(), spacing);
}

void TestControls::groupFrameIsOneAntialiasedStroke_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qreal>("pixelRatio");
    QTest::newRow("settings group") << QSize(604, 183) << 1.0;
    QTest::newRow("radio group") << QSize(196, 49) << 1.0;
    QTest::newRow("radio group, twice the pixels") << QSize(196, 49) << 2.0;
    QTest::newRow("radio group, one and a half") << QSize(196, 49) << 1.5;
    QTest::newRow("no longer than its corners") << QSize(9, 14) << 1.0;
}

// The group's frame, however it is drawn, is what one antialiased stroke of
// the rounded rectangle gives, to the pixel.
void TestControls::groupFrameIsOneAntialiasedStroke()
{
    QFETCH(QSize, size);
    QFETCH(qreal, pixelRatio);
    QGroupBox group;
    group.resize(size);
    setCaptionsIntoFrames(&group);
    QStyleOptionGroupBox option;
    option.initFrom(&group);
    option.subControls = QStyle::SC_GroupBoxFrame;
    const QRect frame =
        group.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, &group);

    QImage expected(size * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(pixelRatio);
    expected.fill(group.palette().color(QPalette::Window));
    QImage drawn = expected;
    group.render(&drawn, {}, {}, QWidget::DrawChildren);
    QPainter painter(&expected);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(group.palette().color(QPalette::Mid));
    painter.drawRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.end();
    QCOMPARE(drawn, expected);
}

void TestControls::panelKeepsItsMarginWhenDockedAgain()
{
    Panel row(QStringLiteral("Panel5"), nullptr);
    row.setCaption(QStringLiteral("间隔"));
    row.setInnerMargin(5);
    auto *spin = new QWidget;
    row.dock()->addDocked(spin, Dock::Right, 92);
    auto *later = new QWidget;
    row.dock()->addDocked(later, Dock::Left, 10);
    row.resize(200, 39);
    row.show();
    QVERIFY(QTest::qWaitForWindowExposed(&row));
    QCOMPARE(spin->geometry(), QRect(200 - 5 - 92, 5, 92, 29));
    QCOMPARE(later->geometry(), QRect(5, 5, 10, 29));
    QCOMPARE(row.innerMargin(), 5);
}

namespace {

// A widget that asks for the keyboard in its own constructor, as most input
// widgets do.
class Eager : public QWidget {
public:
    explicit Eager(QWidget *parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }
};

} // namespace

void TestControls::inputTransparencyCoversLaterChildren()
{
    QWidget region;
    region.resize(200, 100);
    auto *before = new QWidget(&region);
    makeInputTransparent(&region);
    auto *child = new Eager(&region);
    auto *grandchild = new Eager(child);
    auto *adopted = new QLineEdit;
    adopted->setParent(before);
    for (QWidget *widget : {before, static_cast<QWidget *>(child), static_cast<QWidget *>(grandchild),
                            static_cast<QWidget *>(adopted)})
        widget->setGeometry(0, 0, 200, 100);
    region.show();
    QVERIFY(QTest::qWaitForWindowExposed(&region));

    for (QWidget *widget : region.findChildren<QWidget *>()) {
        QVERIFY2(widget->testAttribute(Qt::WA_TransparentForMouseEvents), widget->metaObject()->className());
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
    }
    QCOMPARE(region.childAt(50, 50), nullptr);
    QVERIFY(region.isEnabled());
}

void TestControls::swatchStaysInsideItsFrame_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::newRow("scale 1") << 1.0;
    QTest::newRow("scale 1.5") << 1.5;
    QTest::newRow("scale 2") << 2.0;
}

// The colour shows only inside the swatch's grey frame, whatever the scale:
// rounding the frame and the fill differently let the colour show one
// device pixel past the frame on the right and bottom.
void TestControls::swatchStaysInsideItsFrame()
{
    QFETCH(qreal, ratio);
    QWidget owner;
    ColourEdit edit(QStringLiteral("edit"), colourValue(0, 255, 0), &owner);
    edit.setGeometry(0, 0, 92, 29); // as in the window: 97 wide, row margins of 5
    QImage picture((QSizeF(edit.size()) * ratio).toSize(), QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::white);
    edit.render(&picture);

    QRect ink;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((picture.pixel(x, y) & 0xFFFFFF) == 0x00FF00)
                ink |= QRect(x, y, 1, 1);
    QVERIFY(!ink.isEmpty());
    // The colour fills one rectangle, and the grey frame runs all round it,
    // right against it: no colour on the far side of the frame.
    int notInk = 0, notFrame = 0;
    const QRect ring = ink.adjusted(-1, -1, 1, 1);
    for (int y = ring.top(); y <= ring.bottom(); ++y)
        for (int x = ring.left(); x <= ring.right(); ++x) {
            const QRgb pixel = picture.pixel(x, y) & 0xFFFFFF;
            if (ink.contains(x, y))
                notInk += pixel != 0x00FF00;
            else
                notFrame += pixel != 0x808080;
        }
    QCOMPARE(notInk, 0);
    QCOMPARE(notFrame, 0);
}

void TestControls::onlyHarmlessQtWarningsAreDropped_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("dropped");
    const QString runtimeFolder =
        QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'");
    QTest::newRow("runtime folder made by Qt") << int(QtWarningMsg) << runtimeFolder << true;
    QTest::newRow("the same text as a critical message") << int(QtCriticalMsg) << runtimeFolder << false;
    QTest::newRow("runtime folder not made")
        << int(QtWarningMsg)
        << QStringLiteral("QStandardPaths: error creating runtime directory '/tmp/runtime-root': 权限不够")
        << false;
    QTest::newRow("runtime folder text inside another message")
        << int(QtWarningMsg) << (QStringLiteral("plugin: ") + runtimeFolder) << false;
    QTest::newRow("any other warning")
        << int(QtWarningMsg) << QStringLiteral("QPainter::begin: Paint device returned engine == 0") << false;
}

void TestControls::onlyHarmlessQtWarningsAreDropped()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(bool, dropped);
    QCOMPARE(isHarmlessQtWarning(QtMsgType(type), message), dropped);

    // Through the installed handler: what is not dropped reaches the handler
    // that was there before, unchanged.
    static QStringList passedOn;
    passedOn.clear();
    const QtMessageHandler testHandler = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { passedOn.append(text); });
    silenceHarmlessQtWarnings();
    silenceHarmlessQtWarnings(); // a second call changes nothing
    const QMessageLogContext context;
    qt_message_output(QtMsgType(type), context, message);
    qInstallMessageHandler(testHandler);
    QCOMPARE(passedOn, dropped ? QStringList() : QStringList{message});
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
