// The pack dialog as the user reaches it: from the sticker dialog's
// "做成贴纸包…", a phrase list typed in, the rule a short list breaks shown,
// and a LINE pack of 8 saved and held to LINE's rules by the same checks as
// the command line's packs (Python's zipfile, Pillow).

#include "app/sticker_dialog/pack_dialog.h"
#include "app/sticker_dialog/sticker_dialog.h"
#include "laid_out_strip.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The same list as the check's "line animated" case.
const QString kEightPhrases =
    QStringLiteral("好的\n收到\n# "
                   "不是贴纸\n\n在吗\t🤔\n冲冲冲\n晚安\t🌙😴\n谢谢\n加油💪\n再见\n");

// Long enough for a pack of eight on a busy machine with a sanitizer.
constexpr int kPackWaitMs = 240000;

} // namespace

class TestPackDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void makesAndSavesALinePack();

private:
    QTemporaryDir m_settingsFolder;
};

void TestPackDialog::initTestCase()
{
    QVERIFY(m_settingsFolder.isValid());
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsFolder.path());
    QSettings(QStringLiteral("Quillow"), QStringLiteral("Quillow")).clear();
}

void TestPackDialog::makesAndSavesALinePack()
{
    QStringList reports;
    StripSettings settings;
    settings.text = QStringLiteral("好的");
    StickerDialog stickers(
        laidOutStrip(settings), Qt::black, settings.text,
        [&](QWidget *, const QString &text) { reports << text; }, nullptr);
    auto *open = stickers.findChild<QPushButton *>(QStringLiteral("btnMakePack"));
    QVERIFY(open);
    open->click();
    auto *packs = stickers.findChild<PackDialog *>();
    QVERIFY(packs);

    // The dialog's phrase alone: LINE takes no set of one, and says so.
    auto *app = packs->findChild<QComboBox *>(QStringLiteral("cmbPackApp"));
    app->setCurrentIndex(app->findData(QStringLiteral("line")));
    QTRY_VERIFY_WITH_TIMEOUT(!packs->isMaking() && !packs->refusal().isEmpty(), kPackWaitMs);
    QVERIFY(!packs->pack());
    const QString rule = QStringLiteral("现有 1 张");
    QVERIFY2(packs->refusal().contains(rule), qPrintable(packs->refusal()));
    QVERIFY(packs->findChild<QLabel *>(QStringLiteral("lblPackStatus"))->text().contains(rule));
    QVERIFY(!packs->findChild<QPushButton *>(QStringLiteral("btnSavePack"))->isEnabled());

    packs->findChild<QPlainTextEdit *>(QStringLiteral("edtPhrases"))->setPlainText(kEightPhrases);
    QTRY_VERIFY_WITH_TIMEOUT(!packs->isMaking() && packs->pack() && packs->pack()->stickers.size() == 8,
                             kPackWaitMs);
    QVERIFY(packs->findChild<QPushButton *>(QStringLiteral("btnSavePack"))->isEnabled());
    // Two extra images and eight stickers in the grid.
    QCOMPARE(packs->findChild<QListWidget *>(QStringLiteral("lstPack"))->count(), 10);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("line.zip"));
    QVERIFY(packs->saveTo(path));
    QVERIFY2(reports.isEmpty(), qPrintable(reports.join(u'\n')));

    // The sticker dialog's first-time effect moves, so this is LINE's
    // animated set.
    QProcess check;
    check.start(QStringLiteral(QUILLOW_PILLOW_PYTHON),
                {QStringLiteral(PACK_RULES_SCRIPT), QStringLiteral("--check"), path,
                 QStringLiteral("line animated")});
    QVERIFY(check.waitForFinished(-1));
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0,
             qPrintable(QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError())));
}

QTEST_MAIN(TestPackDialog)
#include "tst_pack_dialog.moc"
