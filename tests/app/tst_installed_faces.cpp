// Runs against the real font database, with a font configuration of its own
// that adds a face named "Microsoft YaHei" in English and "微软雅黑" in
// Simplified Chinese (WenQuanYi Micro Hei under new names).

#include "app/fontlist/font_name_list.h"

#include <QFontDatabase>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QString kEnglishName = QStringLiteral("Microsoft YaHei");
const QString kChineseName = QStringLiteral("微软雅黑");

QStringList families(const QList<FontFace> &faces)
{
    QStringList names;
    for (const FontFace &face : faces)
        names.append(face.family);
    return names;
}

} // namespace

class TestInstalledFaces : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void listHoldsRealFamiliesOnly();
    void faceIsFoundByAnyOfItsNames_data();
    void faceIsFoundByAnyOfItsNames();
};

void TestInstalledFaces::initTestCase()
{
    QVERIFY2(QFontDatabase::families().contains(kEnglishName), "the test's own face is not installed");
}

void TestInstalledFaces::listHoldsRealFamiliesOnly()
{
    const QList<FontFace> faces = installedFontFaces();
    const QStringList listed = families(faces);
    QVERIFY(listed.contains(kEnglishName));
    QVERIFY(!listed.contains(kChineseName)); // the database lists a family once
    for (const char *generic : {"Sans Serif", "Serif", "Monospace"})
        QVERIFY2(!listed.contains(QLatin1String(generic)), generic);

    const auto yaHei = std::find_if(faces.begin(), faces.end(),
                                    [](const FontFace &face) { return face.family == kEnglishName; });
    QVERIFY(yaHei->trueType);
    QVERIFY(yaHei->writesChinese);
    for (const FontFace &face : faces)
        if (face.family.startsWith(QLatin1String("DejaVu")))
            QVERIFY2(!face.writesChinese, qPrintable(face.family));

    // Every face keeps its entry, also one that cannot draw its own name (a
    // colour emoji face has no letters).
    QVERIFY2(listed.contains(QStringLiteral("Noto Color Emoji")),
             "scripts/bootstrap installs the colour emoji face");
}

void TestInstalledFaces::faceIsFoundByAnyOfItsNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("beforeListArrives");
    QTest::addColumn<QString>("selected");
    QTest::newRow("Chinese name waiting for the list") << kChineseName << true << kEnglishName;
    QTest::newRow("Chinese name set once the list is in") << kChineseName << false << kEnglishName;
    QTest::newRow("listed English name") << kEnglishName << true << kEnglishName;
    QTest::newRow("English name in other case") << QStringLiteral("microsoft yahei") << false << kEnglishName;
    QTest::newRow("another face's Chinese name")
        << QStringLiteral("文泉驿微米黑") << true << QStringLiteral("WenQuanYi Micro Hei");
    QTest::newRow("face not installed selects nothing") << QStringLiteral("宋体") << true << QString();
}

void TestInstalledFaces::faceIsFoundByAnyOfItsNames()
{
    QFETCH(QString, name);
    QFETCH(bool, beforeListArrives);
    QFETCH(QString, selected);
    auto gate = std::make_shared<QSemaphore>(0);
    FontNameList list(
        QStringLiteral("cbbfont"),
        [gate] {
            gate->acquire();
            return installedFontFaces();
        },
        nullptr);
    if (beforeListArrives)
        list.setCurrentFace(name);
    QSignalSpy arrived(&list, &FontNameList::listArrived);
    gate->release();
    QVERIFY(arrived.wait());
    if (!beforeListArrives)
        list.setCurrentFace(name);
    QCOMPARE(list.currentFace(), selected);
}

QTEST_MAIN(TestInstalledFaces)
#include "tst_installed_faces.moc"
