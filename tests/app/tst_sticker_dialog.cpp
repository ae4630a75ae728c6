#include "animation_checks.h"
#include "app/kit/colour_edit.h"
#include "app/kit/save_dialog.h"
#include "app/shell/cache_folder.h"
#include "app/sticker_dialog/frame_player.h"
#include "app/sticker_dialog/sticker_dialog.h"
#include "composition/effect_frames.h"
#include "composition/quillow_error.h"
#include "composition/sticker_look.h"
#include "export/output_format.h"
#include "file_dialog_typing.h"
#include "laid_out_strip.h"
#include "sticker/sticker_preset.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <mutex>

Q_DECLARE_METATYPE(Effect)

namespace {

const QString kTestFace = QStringLiteral("WenQuanYi Micro Hei");

// Stands in for makeSticker(): records what it was asked for and answers
// with a sticker whose size in bytes, cap and format the test chooses: a
// real file of that format (so that it reads back), padded with zeros after
// its end to the size asked for.
struct FakeMaker {
    struct Shared {
        std::mutex lock;
        QList<StickerOptions> asked;
        qint64 bytes = 1000;
        std::optional<qint64> cap;
        QString formatName = QStringLiteral("gif");
        QSize size{40, 20};
        QStringList warnings;
        QString fitted;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    StickerMaker maker() const
    {
        return [shared = shared](const StripLayout &, const QColor &, const StickerOptions &options,
                                 const std::atomic<bool> *) {
            const std::lock_guard hold(shared->lock);
            shared->asked.append(options);
            Sticker sticker;
            sticker.format = outputFormatNamed(shared->formatName);
            sticker.size = shared->size;
            sticker.cap = shared->cap;
            sticker.warnings = shared->warnings;
            sticker.fitted = shared->fitted;
            QImage frame(shared->size, QImage::Format_ARGB32_Premultiplied);
            frame.fill(Qt::red);
            sticker.shown.frames.push_back({frame, 100});
            sticker.bytes = outputFormatNamed(shared->formatName)->encode(sticker.shown, {}).bytes;
            if (sticker.bytes.size() < shared->bytes)
                sticker.bytes.append(QByteArray(shared->bytes - sticker.bytes.size(), '\0'));
            return sticker;
        };
    }
    StickerOptions last() const
    {
        const std::lock_guard hold(shared->lock);
        return shared->asked.isEmpty() ? StickerOptions() : shared->asked.last();
    }
};

QString nameOf(const StickerPreset *preset)
{
    return preset ? preset->name : QString();
}

QString nameOf(Effect effect)
{
    return effectName(effect);
}

QString nameOf(const OutputFileFormat *format)
{
    return format ? QString(format->name) : QString();
}

StripLayout strip()
{
    StripSettings settings;
    settings.text = QStringLiteral("加油");
    settings.colourMode = ColourMode::Gradient;
    return laidOutStrip(settings);
}

// A dialog whose errors are collected, not shown.
struct Dialog {
    QStringList reports;
    StickerDialog dialog;

    explicit Dialog(StickerMaker maker, const QString &phrase = QStringLiteral("加油"))
        : dialog(
              strip(), Qt::black, phrase, [this](QWidget *, const QString &text) { reports.append(text); },
              nullptr, std::move(maker))
    {}

    template <typename Part> Part *part(const char *name)
    {
        auto *found = dialog.findChild<Part *>(QLatin1StringView(name));
        if (!found)
            qFatal("the sticker dialog has no %s", name);
        return found;
    }
    QComboBox *preset() { return part<QComboBox>("cbbPreset"); }
    QComboBox *effect() { return part<QComboBox>("cbbEffect"); }
    QComboBox *matte() { return part<QComboBox>("cbbMatte"); }
    QComboBox *format() { return part<QComboBox>("cbbFormat"); }
    QCheckBox *outline() { return part<QCheckBox>("chkOutline"); }
    QSpinBox *outlineWidth() { return part<QSpinBox>("spnOutlineWidth"); }
    ColourEdit *outlineColour() { return part<ColourEdit>("edtOutlineColour"); }
    QCheckBox *shadow() { return part<QCheckBox>("chkShadow"); }
    QLabel *bytes() { return part<QLabel>("lblBytes"); }

    // Waits until the sticker of the current choices is on show.
    bool settled()
    {
        if (!dialog.isMaking())
            return true;
        QSignalSpy updated(&dialog, &StickerDialog::stickerUpdated);
        // A guard against a sticker that never comes, not a measure of
        // speed: a sanitized build on a busy machine takes seconds.
        while (dialog.isMaking())
            if (!updated.wait(60000))
                return false;
        return true;
    }
};

void choose(QComboBox *box, const QString &name)
{
    const int index = box->findData(name);
    QVERIFY2(index >= 0, qPrintable(name));
    box->setCurrentIndex(index);
}

// Answers the dialog's save dialog with `fileName` in `folder` once it is up,
// and notes the name it proposed and the filter it showed; with `filter`,
// the user picks that filter first.
void answerSaveDialog(SaveDialog *dialog, const QString &folder, const QString &fileName, QString &proposed,
                      QString &shownFilter, const QString &filter = QString())
{
    auto *watch = new QTimer(dialog);
    watch->setInterval(10);
    QObject::connect(watch, &QTimer::timeout, dialog, [=, &proposed, &shownFilter] {
        if (!dialog->isVisible())
            return;
        watch->deleteLater();
        watch->stop();
        const QStringList selected = dialog->selectedFiles();
        proposed = selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName();
        shownFilter = dialog->selectedNameFilter();
        if (!filter.isEmpty())
            dialog->selectNameFilter(filter);
        dialog->setDirectory(folder);
        QVERIFY(typeFileNameAndAccept(dialog, fileName));
    });
    watch->start();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The frames of `bytes` as Pillow shows them, with their delays.
struct PillowFrames {
    std::vector<QImage> images; // Format_ARGB32, straight alpha
    std::vector<int> delaysMs;
    QString failure; // empty when Pillow read the file
};

PillowFrames readWithPillow(const QByteArray &bytes, const QString &suffix)
{
    PillowFrames read;
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("sticker.") + suffix));
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        read.failure = QStringLiteral("cannot write the sticker for Pillow");
        return read;
    }
    file.close();
    QProcess pillow;
    pillow.start(QStringLiteral(QUILLOW_PILLOW_PYTHON),
                 {QStringLiteral(QUILLOW_PILLOW_FRAMES), file.fileName(), folder.path()});
    if (!pillow.waitForFinished(-1) || pillow.exitStatus() != QProcess::NormalExit ||
        pillow.exitCode() != 0) {
        read.failure =
            QStringLiteral("Pillow (%1) failed: %2")
                .arg(QStringLiteral(QUILLOW_PILLOW_PYTHON), QString::fromUtf8(pillow.readAllStandardError()));
        return read;
    }
    const QStringList delays =
        QString::fromUtf8(pillow.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = 0; i < delays.size(); ++i) {
        read.images.push_back(
            QImage(folder.filePath(QStringLiteral("%1.png").arg(i, 3, 10, QLatin1Char('0'))))
                .convertToFormat(QImage::Format_ARGB32));
        read.delaysMs.push_back(qRound(delays[i].toDouble()));
    }
    return read;
}

// What the bytes are, by their own signature: "apng" is a PNG with an
// animation control chunk before its image data.
QString formatOfContent(const QByteArray &bytes)
{
    if (bytes.startsWith("GIF89a") || bytes.startsWith("GIF87a"))
        return QStringLiteral("gif");
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (bytes.startsWith(QByteArray::fromHex("89504e470d0a1a0a"))) {
        const qsizetype animation = bytes.indexOf("acTL"), image = bytes.indexOf("IDAT");
        return animation >= 0 && animation < image ? QStringLiteral("apng") : QStringLiteral("png");
    }
    return QStringLiteral("unknown");
}

} // namespace

class TestStickerDialog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void firstTimeChoices();
    void choicesAreRemembered();
    void choicesReachTheSticker_data();
    void choicesReachTheSticker();
    void telegramAnimatesAsVideo();
    void dialogOffersWhatTheMakerTakes_data();
    void dialogOffersWhatTheMakerTakes();
    void chosenEffectAndFormatComeBack();
    void previewIsTheFileReadBack_data();
    void previewIsTheFileReadBack();
    void previewPlaysAWebmVideo();
    void typedNameChoosesFormat_data();
    void typedNameChoosesFormat();
    void shadowLookReachesTheSticker();
    void dialogGrowsToShowTheSticker();
    void notesBreakOnlyBetweenClauses_data();
    void notesBreakOnlyBetweenClauses();
    void sizeMeter_data();
    void sizeMeter();
    void newerChoiceStopsOlderSticker();
    void saveWaitsForTheStickerAndWritesIt();
    void savedBytesAreTheCoreSticker();
    void rowsAndTilesAreChosen();
    void tilesAreSavedTogetherAndPasted();
    void fittedNoteIsShown();
    void tilesOnlyWhereEmojiAreNamed();
    void tabFollowsTheForm();
    void makingShowsTheNewBoxNotTheOldSticker();
    void copyOffersStickerAndFile_data();
    void copyOffersStickerAndFile();
    void failureIsShownAndNotSaved();

    void playerStepsFramesAndScalesDown();
    void staleCacheFilesGo();
    void cacheFileNeverReplacesAnother();
    void cacheFileStem_data();
    void cacheFileStem();

private:
    QTemporaryDir m_settingsFolder;
};

void TestStickerDialog::initTestCase()
{
    QVERIFY(m_settingsFolder.isValid());
    // The cache and the settings of a test run stay away from the user's.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsFolder.path());
}

void TestStickerDialog::init()
{
    QSettings(QStringLiteral("Quillow"), QStringLiteral("Quillow")).clear();
}

void TestStickerDialog::firstTimeChoices()
{
    FakeMaker fake;
    Dialog d(fake.maker());
    QVERIFY(d.settled());
    QCOMPARE(d.preset()->currentText(), QStringLiteral("微信"));
    QCOMPARE(d.effect()->currentText(), QStringLiteral("逐字出现"));
    QVERIFY(d.outline()->isChecked());
    QCOMPARE(d.outlineWidth()->value(), 3);
    QCOMPARE(toQColor(d.outlineColour()->colour()), QColor(Qt::white));
    QVERIFY(!d.shadow()->isChecked());
    QCOMPARE(d.matte()->currentText(), QStringLiteral("透明边缘"));
    QCOMPARE(d.format()->currentText(), QStringLiteral("GIF"));
    QCOMPARE(d.part<QLabel>("lblPhrase")->text(), QStringLiteral("加油"));

    const StickerOptions asked = fake.last();
    QCOMPARE(nameOf(asked.format), QStringLiteral("gif"));
    QCOMPARE(nameOf(asked.preset), QStringLiteral("wechat"));
    QCOMPARE(nameOf(asked.effect), QStringLiteral("reveal"));
    // The readable look, which shows on a white chat and on a dark one.
    QVERIFY(d.part<QCheckBox>("chkOutlineEdge")->isChecked());
    const StickerLook &readable = readableStickerLook();
    QCOMPARE(asked.look.outlineWidth, readable.outlineWidth);
    QCOMPARE(asked.look.outlineColour, readable.outlineColour);
    QCOMPARE(asked.look.edgeWidth, readable.edgeWidth);
    QVERIFY(!asked.look.shadow);
    QVERIFY(!asked.matte);
    QCOMPARE(asked.seed, kWindowStickerSeed);
    // Return saves.
    QVERIFY(d.part<QPushButton>("btnSaveSticker")->isDefault());
}

void TestStickerDialog::choicesAreRemembered()
{
    FakeMaker fake;
    {
        Dialog d(fake.maker());
        choose(d.preset(), QStringLiteral("slack"));
        choose(d.effect(), QStringLiteral("shake"));
        d.outlineWidth()->setValue(5);
        d.outlineColour()->setColour(colourValue(0x12, 0x34, 0x56));
        d.part<QCheckBox>("chkOutlineEdge")->setChecked(false);
        d.shadow()->setChecked(true);
        choose(d.matte(), QStringLiteral("dark"));
        choose(d.part<QComboBox>("cbbGround"), QStringLiteral("dark"));
        QVERIFY(d.settled());
    }
    Dialog again(fake.maker());
    QVERIFY(again.settled());
    const StickerChoices shown = again.dialog.choices();
    QCOMPARE(nameOf(shown.preset), QStringLiteral("slack"));
    QCOMPARE(nameOf(shown.effect), QStringLiteral("shake"));
    QCOMPARE(shown.outlineWidth, 5);
    QCOMPARE(shown.outlineColour, QColor(0x12, 0x34, 0x56));
    QVERIFY(!shown.outlineEdge);
    QCOMPARE(fake.last().look.edgeWidth, 0);
    QVERIFY(shown.shadow);
    QCOMPARE(shown.matte, QStringLiteral("dark"));
    QCOMPARE(shown.ground, PreviewGround::Dark);
    QCOMPARE(again.part<FramePlayer>("plyPreview")->ground(), PreviewGround::Dark);
    QCOMPARE(fake.last().matte, std::optional<QColor>(kDarkMatte));

    // Turning the outline off keeps its width and rim for later.
    again.part<QCheckBox>("chkOutlineEdge")->setChecked(true);
    again.outline()->setChecked(false);
    QVERIFY(again.settled());
    QCOMPARE(fake.last().look.outlineWidth, 0);
    QCOMPARE(fake.last().look.edgeWidth, 0);
    Dialog third(fake.maker());
    QVERIFY(!third.outline()->isChecked());
    QCOMPARE(third.outlineWidth()->value(), 5);
    QVERIFY(!third.outlineWidth()->isEnabled());
    QVERIFY(third.part<QCheckBox>("chkOutlineEdge")->isChecked());
    QVERIFY(!third.part<QCheckBox>("chkOutlineEdge")->isEnabled());
}

void TestStickerDialog::choicesReachTheSticker_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QString>("matte");
    QTest::addColumn<bool>("matteOffered");
    QTest::addColumn<std::optional<QColor>>("expectedMatte");
    QTest::newRow("WeChat GIF on light") << "wechat"
                                         << "reveal"
                                         << "light" << true << std::optional(kLightMatte);
    QTest::newRow("Slack GIF on dark") << "slack"
                                       << "reveal-shake"
                                       << "dark" << true << std::optional(kDarkMatte);
    QTest::newRow("GIF with soft edges") << "qq"
                                         << "shake"
                                         << "transparent" << true << std::optional<QColor>();
    QTest::newRow("a still is a PNG") << "wechat"
                                      << "still"
                                      << "dark" << false << std::optional<QColor>();
    QTest::newRow("Discord sticker is APNG") << "discord-sticker"
                                             << "reveal"
                                             << "dark" << false << std::optional<QColor>();
    QTest::newRow("custom animates as APNG") << ""
                                             << "reveal"
                                             << "light" << false << std::optional<QColor>();
}

void TestStickerDialog::choicesReachTheSticker()
{
    QFETCH(QString, preset);
    QFETCH(QString, effect);
    QFETCH(QString, matte);
    QFETCH(bool, matteOffered);
    QFETCH(std::optional<QColor>, expectedMatte);
    FakeMaker fake;
    Dialog d(fake.maker());
    choose(d.preset(), preset);
    choose(d.effect(), effect);
    choose(d.matte(), matte);
    QVERIFY(d.settled());
    QCOMPARE(d.matte()->isEnabled(), matteOffered);
    QVERIFY(!d.matte()->toolTip().isEmpty());
    const StickerOptions asked = fake.last();
    QCOMPARE(nameOf(asked.preset), preset);
    QCOMPARE(nameOf(asked.effect), effect);
    QCOMPARE(asked.matte, expectedMatte);
}

void TestStickerDialog::telegramAnimatesAsVideo()
{
    FakeMaker fake;
    Dialog d(fake.maker());
    choose(d.effect(), QStringLiteral("shake"));
    choose(d.preset(), QStringLiteral("telegram"));
    QVERIFY(d.settled());
    QCOMPARE(d.effect()->currentText(), QStringLiteral("抖动"));
    QCOMPARE(nameOf(fake.last().effect), QStringLiteral("shake"));
    QCOMPARE(d.format()->currentText(), QStringLiteral("WEBM"));
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("webm"));
    QVERIFY(!d.format()->isEnabled());
    auto *model = qobject_cast<QStandardItemModel *>(d.effect()->model());
    QVERIFY(model);
    for (int i = 0; i < model->rowCount(); ++i)
        QVERIFY(model->item(i)->isEnabled());

    // A remembered animated effect comes back with Telegram.
    QSettings settings(QStringLiteral("Quillow"), QStringLiteral("Quillow"));
    settings.setValue(QStringLiteral("sticker/preset"), QStringLiteral("telegram"));
    settings.setValue(QStringLiteral("sticker/effect"), QStringLiteral("reveal"));
    QCOMPARE(StickerChoices::load(settings).options().effect, Effect::Reveal);
}

void TestStickerDialog::sizeMeter_data()
{
    QTest::addColumn<QString>("preset"); // empty: no preset
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<std::optional<qint64>>("cap");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("over");
    // Each app's cap reads as the app states it, and the file's size in the
    // same unit: Slack's KB are 1000 bytes, Discord's KiB 1024. A size never
    // reads as more than the file holds: rounded down, to a tenth; a file
    // over the cap shows in red.
    const std::optional<qint64> discord = 256 * 1024, slack = 128 * 1000, wechat = 1024 * 1024;
    QTest::newRow("well under") << "discord-emoji" << qint64(38 * 1024) << discord << "38 KiB / 256 KiB"
                                << false;
    QTest::newRow("exactly the cap") << "discord-emoji" << qint64(256 * 1024) << discord
                                     << "256 KiB / 256 KiB" << false;
    QTest::newRow("one byte over") << "discord-emoji" << qint64(256 * 1024 + 1) << discord
                                   << "256 KiB / 256 KiB" << true;
    QTest::newRow("a tenth over") << "discord-emoji" << qint64(256 * 1024 + 103) << discord
                                  << "256.1 KiB / 256 KiB" << true;
    QTest::newRow("far over") << "discord-emoji" << qint64(300 * 1024) << discord << "300 KiB / 256 KiB"
                              << true;
    QTest::newRow("slack at its cap") << "slack" << qint64(128 * 1000) << slack << "128 KB / 128 KB" << false;
    QTest::newRow("slack one byte over")
        << "slack" << qint64(128 * 1000 + 1) << slack << "128 KB / 128 KB" << true;
    QTest::newRow("never rounded up") << "slack" << qint64(64'100) << slack << "64.1 KB / 128 KB" << false;
    QTest::newRow("a hair under a tenth")
        << "slack" << qint64(64'199) << slack << "64.1 KB / 128 KB" << false;
    QTest::newRow("wechat in MiB") << "wechat" << qint64(38 * 1024) << wechat << "38 KiB / 1 MiB" << false;
    QTest::newRow("no cap") << "" << qint64(1500) << std::optional<qint64>() << "1.5 KB" << false;
    QTest::newRow("no preset, KB of 1000")
        << "" << qint64(38 * 1024) << std::optional<qint64>() << "38.9 KB" << false;
}

void TestStickerDialog::sizeMeter()
{
    QFETCH(QString, preset);
    QFETCH(qint64, bytes);
    QFETCH(std::optional<qint64>, cap);
    QFETCH(QString, shown);
    QFETCH(bool, over);
    FakeMaker fake;
    fake.shared->bytes = bytes;
    fake.shared->cap = cap;
    Dialog d(fake.maker());
    choose(d.preset(), preset);
    QVERIFY(d.settled());
    QCOMPARE(d.bytes()->text(), shown);
    QCOMPARE(d.part<QLabel>("lblPixels")->text(), QStringLiteral("40 × 20 像素"));
    const QColor text = d.bytes()->palette().color(QPalette::WindowText);
    const bool red = text.red() > 150 && text.green() < 120 && text.blue() < 120;
    QCOMPARE(red, over);
}

void TestStickerDialog::newerChoiceStopsOlderSticker()
{
    FakeMaker fake;
    // The first sticker runs until it is told to stop; the test makes its
    // change of choice while it runs.
    QSemaphore firstStarted;
    std::atomic<bool> firstSawCancel = false;
    std::atomic<int> running = 0;
    std::atomic<int> mostAtOnce = 0;
    std::atomic<int> calls = 0;
    StickerMaker inner = fake.maker();
    StickerMaker maker = [&](const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                             const std::atomic<bool> *cancel) {
        const int now = ++running;
        mostAtOnce = std::max(mostAtOnce.load(), now);
        const bool first = calls++ == 0;
        if (first) {
            firstStarted.release();
            while (!cancel->load())
                QThread::msleep(5);
            firstSawCancel = true;
            --running;
            throw StickerCancelled{};
        }
        Sticker sticker = inner(layout, ink, options, cancel);
        --running;
        return sticker;
    };
    Dialog d(maker);
    firstStarted.acquire();
    QSignalSpy updated(&d.dialog, &StickerDialog::stickerUpdated);
    QVERIFY(d.dialog.isMaking());
    choose(d.effect(), QStringLiteral("shake"));
    QVERIFY(d.settled());
    QVERIFY(firstSawCancel);
    QCOMPARE(calls.load(), 2);
    QCOMPARE(mostAtOnce.load(), 1);
    // Only the newer sticker was shown, and it is of the newer choice.
    QCOMPARE(updated.count(), 1);
    QVERIFY(d.dialog.sticker());
    QCOMPARE(nameOf(fake.last().effect), QStringLiteral("shake"));
}

void TestStickerDialog::saveWaitsForTheStickerAndWritesIt()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    FakeMaker fake;
    QSemaphore go;
    StickerMaker inner = fake.maker();
    StickerMaker gated = [&](const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                             const std::atomic<bool> *cancel) {
        go.acquire();
        return inner(layout, ink, options, cancel);
    };
    Dialog d(gated, QStringLiteral("加/油\t!"));
    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
    // Return while the sticker is still being made: the save waits for it.
    QTest::keyClick(&d.dialog, Qt::Key_Return);
    QVERIFY(!d.dialog.saveDialog()->isVisible());
    QString proposed, filter;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), QStringLiteral("typed"), proposed, filter);
    go.release();
    const QString written = folder.filePath(QStringLiteral("typed.gif"));
    QTRY_VERIFY(QFile::exists(written));
    QCOMPARE(proposed, QStringLiteral("加_油_!.gif"));
    QCOMPARE(filter, QStringLiteral("GIF 图片 (*.gif)"));
    QVERIFY(d.dialog.sticker());
    QCOMPARE(contents(written), d.dialog.sticker()->bytes);
    QVERIFY(d.reports.isEmpty());
    // Saving says so, as copying does, and the note goes by itself.
    auto *done = d.part<QLabel>("lblDone");
    QCOMPARE(done->text(), QStringLiteral("已保存为 typed.gif"));
    QTRY_VERIFY_WITH_TIMEOUT(done->text().isEmpty(), 10000);
}

void TestStickerDialog::savedBytesAreTheCoreSticker()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Dialog d(makeSticker);
    QVERIFY(d.settled());
    QString proposed, filter;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), QStringLiteral("core"), proposed, filter);
    d.dialog.save();
    const Sticker expected = makeSticker(strip(), Qt::black, d.dialog.choices().options());
    QCOMPARE(contents(folder.filePath(QStringLiteral("core.") + QString(expected.format->suffix))),
             expected.bytes);
    QVERIFY(d.reports.isEmpty());
}

void TestStickerDialog::rowsAndTilesAreChosen()
{
    Dialog d(makeSticker);
    QVERIFY(d.settled());
    choose(d.preset(), QStringLiteral("wechat"));
    auto *tiles = d.part<QCheckBox>("chkTiles");
    // WeChat's canvas follows the strip's shape: nothing to cut into squares.
    QVERIFY(!tiles->isEnabled());
    choose(d.part<QComboBox>("cbbRows"), QStringLiteral("2"));
    QVERIFY(d.settled());
    QCOMPARE(d.dialog.choices().options().rows, 2);

    choose(d.preset(), QStringLiteral("slack"));
    QVERIFY(tiles->isEnabled());
    QTest::mouseClick(tiles, Qt::LeftButton, {}, QPoint(4, tiles->height() / 2));
    QVERIFY(tiles->isChecked());
    // The tiles lay the shout out in their own rows.
    QVERIFY(!d.part<QComboBox>("cbbRows")->isEnabled());
    choose(d.part<QComboBox>("cbbTileGrid"), QStringLiteral("3x1"));
    QVERIFY(d.settled());
    QVERIFY(d.reports.isEmpty());
    QCOMPARE(d.dialog.choices().tileGrid(), std::optional<TileGrid>(TileGrid{3, 1}));
    // Three squares side by side, with the gaps a chat leaves between them.
    const QSize shown = d.part<FramePlayer>("plyPreview")->animation().frames.front().image.size();
    QVERIFY2(shown.height() == 128 && shown.width() > 3 * 128 && shown.width() < 3 * 128 + 20,
             qPrintable(QStringLiteral("%1 x %2").arg(shown.width()).arg(shown.height())));

    // Remembered with the other choices.
    QSettings settings(QStringLiteral("Quillow"), QStringLiteral("Quillow"));
    const StickerChoices again = StickerChoices::load(settings);
    QCOMPARE(again.rows, 2);
    QCOMPARE(again.tiles, QStringLiteral("3x1"));
}

void TestStickerDialog::tilesAreSavedTogetherAndPasted()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Dialog d(makeSticker);
    QVERIFY(d.settled());
    choose(d.preset(), QStringLiteral("discord-emoji"));
    d.part<QCheckBox>("chkTiles")->setChecked(true);
    QVERIFY(d.settled());
    QString proposed, filter;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), QStringLiteral("cheer"), proposed, filter);
    d.dialog.save();
    QVERIFY(d.reports.isEmpty());

    // The files the command line writes for the same choices.
    const StickerTiles expected =
        makeStickerTiles(strip(), Qt::black, d.dialog.choices().options(), *d.dialog.choices().tileGrid());
    QVERIFY(expected.tiles.size() >= 2);
    QStringList names;
    QString paste;
    // Named as Discord names emoji: letters, digits and "_".
    for (std::size_t index = 0; index < expected.tiles.size(); ++index) {
        paste += QStringLiteral(":cheer_%1:").arg(index + 1);
        const QString name =
            QStringLiteral("cheer_%1.%2").arg(index + 1).arg(QString(expected.tiles[index].format->suffix));
        names << name;
        QCOMPARE(contents(folder.filePath(name)), expected.tiles[index].bytes);
    }
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files, QDir::Name), names);

    d.dialog.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), paste);

    // The name field shows the default the files took, and a name typed
    // there is what the paste text uses.
    auto *name = d.part<QLineEdit>("edtTileName");
    QVERIFY(name->isEnabled());
    QCOMPARE(name->placeholderText(), QStringLiteral("cheer"));
    QTest::keyClicks(name, QStringLiteral("go_team"));
    d.dialog.copy();
    QVERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral(":go_team_1::go_team_2:")));
}

// What was given up to meet the cap is said under the preview.
void TestStickerDialog::fittedNoteIsShown()
{
    FakeMaker fake;
    fake.shared->fitted = QStringLiteral("为满足 500 KB：有损压缩（质量 70）；抖动缩短为 4 帧");
    Dialog d(fake.maker());
    QVERIFY(d.settled());
    QVERIFY2(d.part<QLabel>("lblNotes")
                 ->text()
                 .remove(QChar(0x2060))
                 .remove(QLatin1Char('\n'))
                 .contains(fake.shared->fitted),
             qPrintable(d.part<QLabel>("lblNotes")->text()));
}

// While a sticker of new choices is made, the old one does not play under
// the new preset's name: the preview shows the new preset's box and that it
// is being made, and no size line of the sticker before.
void TestStickerDialog::makingShowsTheNewBoxNotTheOldSticker()
{
    FakeMaker fake;
    QSemaphore release;
    std::atomic<bool> holding = false;
    StickerMaker inner = fake.maker();
    StickerMaker maker = [&](const StripLayout &layout, const QColor &ink, const StickerOptions &options,
                             const std::atomic<bool> *cancel) {
        // Bounded: a test that forgets to release fails rather than hangs.
        for (int waited = 0; holding && waited < 12000 && !cancel->load(); ++waited)
            if (release.tryAcquire(1, 5))
                break;
        return inner(layout, ink, options, cancel);
    };
    Dialog d(maker);
    QVERIFY(d.settled());
    auto *player = d.part<FramePlayer>("plyPreview");
    QVERIFY(player->frameCount() > 0);
    QVERIFY(!d.part<QLabel>("lblPixels")->text().isEmpty());

    holding = true;
    choose(d.preset(), QStringLiteral("discord-sticker"));
    QVERIFY(d.dialog.isMaking());
    QVERIFY(player->isShowingMaking());
    QCOMPARE(player->frameCount(), 0);
    QVERIFY(d.part<QLabel>("lblPixels")->text().isEmpty());
    QCOMPARE(d.bytes()->text(), QStringLiteral("正在生成…"));
    QVERIFY(player->sizeHint().width() >= 320 && player->sizeHint().height() >= 320);

    holding = false;
    release.release(4);
    QVERIFY(d.settled());
    QVERIFY(!player->isShowingMaking());
    QVERIFY(player->frameCount() > 0);
}

// Tab goes through the controls as the form reads: top to bottom, left to
// right.
void TestStickerDialog::tabFollowsTheForm()
{
    Dialog d(FakeMaker().maker());
    const QStringList reading = {"cbbPreset",        "cbbEffect",        "cbbFormat",      "cbbRows",
                                 "chkTiles",         "cbbTileGrid",      "edtTileName",    "chkOutline",
                                 "edtOutlineColour", "spnOutlineWidth",  "chkOutlineEdge", "chkShadow",
                                 "edtShadowColour",  "spnShadowOpacity", "spnShadowX",     "spnShadowY",
                                 "spnShadowBlur",    "cbbMatte",         "cbbGround",      "btnSaveSticker",
                                 "btnCopySticker",   "btnClose"};
    // The named control each widget of the chain belongs to (a spin box's
    // line edit is its own).
    const auto named = [&](QWidget *widget) {
        for (; widget; widget = widget->parentWidget())
            if (reading.contains(widget->objectName()))
                return widget->objectName();
        return QString();
    };
    QStringList order;
    QWidget *start = d.part<QWidget>("cbbPreset");
    QWidget *widget = start;
    do {
        const QString name = named(widget);
        if (!name.isEmpty() && (order.isEmpty() || order.back() != name) && !order.contains(name))
            order << name;
        widget = widget->nextInFocusChain();
    } while (widget && widget != start && order.size() < reading.size());
    QCOMPARE(order, reading);
}

// Tiles only for chats that show emoji side by side: elsewhere the box
// cannot be ticked.
void TestStickerDialog::tilesOnlyWhereEmojiAreNamed()
{
    Dialog d(FakeMaker().maker());
    choose(d.preset(), QStringLiteral("slack"));
    d.part<QCheckBox>("chkTiles")->setChecked(true);
    for (const StickerPreset &preset : stickerPresets()) {
        choose(d.preset(), preset.name);
        auto *tiles = d.part<QCheckBox>("chkTiles");
        QCOMPARE(tiles->isEnabled(), preset.emojiNames != nullptr);
        // Where tiles cannot be made, the box is not shown ticked either.
        if (!preset.emojiNames)
            QVERIFY(!tiles->isChecked());
    }
}

void TestStickerDialog::copyOffersStickerAndFile_data()
{
    QTest::addColumn<QString>("formatName");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QStringList>("offered");
    const QString gnome = QStringLiteral("x-special/gnome-copied-files");
    const QString kde = QStringLiteral("application/x-kde4-urilist");
    QTest::newRow("GIF, and a PNG of its last frame")
        << "gif"
        << "gif"
        << "image/gif" << QStringList{"image/gif", "image/png", gnome, kde};
    QTest::newRow("PNG is its own PNG") << "png-alpha"
                                        << "png"
                                        << "image/png" << QStringList{"image/png", gnome, kde};
    QTest::newRow("APNG, and a PNG of its last frame")
        << "apng"
        << "png"
        << "image/apng" << QStringList{"image/apng", "image/png", gnome, kde};
    QTest::newRow("WebP, and a PNG of its last frame")
        << "webp"
        << "webp"
        << "image/webp" << QStringList{"image/webp", "image/png", gnome, kde};
}

void TestStickerDialog::copyOffersStickerAndFile()
{
    QFETCH(QString, formatName);
    QFETCH(QString, suffix);
    QFETCH(QString, mimeType);
    QFETCH(QStringList, offered);
    FakeMaker fake;
    fake.shared->formatName = formatName;
    Dialog d(fake.maker());
    d.dialog.copy();
    QVERIFY(d.settled());
    QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->hasFormat(offered.last()));
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QCOMPARE(data->formats(), offered);
    // A URI list would be offered as text/plain on X11 too, and a chat's
    // text field would paste the file's path.
    QVERIFY(!data->hasUrls());
    QVERIFY(!data->hasText());
    QCOMPARE(data->data(mimeType), d.dialog.sticker()->bytes);
    const QImage png = QImage::fromData(data->data(QStringLiteral("image/png")), "PNG");
    QCOMPARE(png.size(), fake.shared->size);
    QCOMPARE(QColor(png.pixel(0, 0)), QColor(Qt::red));

    const QList<QByteArray> gnome = data->data(QStringLiteral("x-special/gnome-copied-files")).split('\n');
    QCOMPARE(gnome.size(), 2);
    QCOMPARE(gnome.first(), QByteArray("copy"));
    const QUrl url = QUrl::fromEncoded(gnome.last());
    QCOMPARE(data->data(QStringLiteral("application/x-kde4-urilist")), gnome.last() + "\r\n");
    const QString file = url.toLocalFile();
    QVERIFY(file.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
    QVERIFY(file.endsWith(QLatin1Char('.') + suffix));
    QCOMPARE(contents(file), d.dialog.sticker()->bytes);
    QFile::remove(file);
    QCOMPARE(d.part<QLabel>("lblDone")->text(), QStringLiteral("已复制到剪贴板"));
}

void TestStickerDialog::failureIsShownAndNotSaved()
{
    Dialog d([](const StripLayout &, const QColor &, const StickerOptions &,
                const std::atomic<bool> *) -> Sticker {
        throw QuillowError(QStringLiteral("无法满足 128 KB 的上限"));
    });
    QVERIFY(d.settled());
    QVERIFY(!d.dialog.sticker());
    QVERIFY(d.part<QLabel>("lblNotes")->text().remove(QChar(0x2060)).contains(QStringLiteral("128 KB")));
    QVERIFY(!d.part<QPushButton>("btnSaveSticker")->isEnabled());
    d.dialog.save();
    QCOMPARE(d.reports.size(), 1);
    QVERIFY(!d.dialog.saveDialog()->isVisible());
}

void TestStickerDialog::dialogOffersWhatTheMakerTakes_data()
{
    QTest::addColumn<QString>("preset"); // empty: no preset
    QTest::addColumn<Effect>("effect");
    std::vector<const StickerPreset *> presets{nullptr};
    for (const StickerPreset &preset : stickerPresets())
        presets.push_back(&preset);
    for (const StickerPreset *preset : presets)
        for (const EffectRow &effect : effectRows())
            QTest::newRow(qPrintable(nameOf(preset) + QLatin1Char(' ') + effect.name))
                << nameOf(preset) << effect.effect;
}

// Every preset and effect through the real dialog and the real maker: each
// format the lists offer makes a sticker, every sticker format they leave out
// of a preset is refused by the maker, an effect is offered exactly when the preset
// animates, the matte exactly for a GIF, and the meter reads the app's cap.
void TestStickerDialog::dialogOffersWhatTheMakerTakes()
{
    QFETCH(QString, preset);
    QFETCH(Effect, effect);
    const StickerPreset *rules = preset.isEmpty() ? nullptr : &findStickerPreset(preset);
    const bool animates = effectRow(effect).animates;
    const bool taken = !animates || !rules || !rules->animated.formats.empty();

    Dialog d(makeSticker);
    choose(d.preset(), preset);
    choose(d.effect(), effectName(effect));
    QVERIFY(d.settled());
    auto *effects = qobject_cast<QStandardItemModel *>(d.effect()->model());
    QVERIFY(effects);
    QCOMPARE(effects->item(d.effect()->findData(effectName(effect)))->isEnabled(), taken);
    const Effect made = taken ? effect : Effect::Still;
    QCOMPARE(d.effect()->currentData().toString(), effectName(made));

    QStringList offered;
    for (int i = 0; i < d.format()->count(); ++i)
        offered << d.format()->itemData(i).toString();
    QVERIFY(!offered.isEmpty());
    for (const QString &format : offered) {
        choose(d.format(), format);
        QVERIFY(d.settled());
        const Sticker *sticker = d.dialog.sticker();
        QVERIFY2(sticker, qPrintable(d.part<QLabel>("lblNotes")->text()));
        QCOMPARE(nameOf(sticker->format), format);
        QCOMPARE(sticker->frames > 1, effectRow(made).animates);
        QCOMPARE(d.matte()->isEnabled(), format == QLatin1String("gif"));
        if (rules) {
            const StickerKind &kind = rules->kind(effectRow(made).animates);
            QVERIFY2(d.bytes()->text().endsWith(QStringLiteral(" / ") + kind.cap.text()),
                     qPrintable(d.bytes()->text()));
            QVERIFY(sticker->bytes.size() <= kind.cap.bytes());
        }
    }
    // Without a preset the maker takes any sticker format; the window offers
    // those it can play back.
    if (!rules)
        return;
    for (const OutputFileFormat &format : outputFileFormats()) {
        if (format.ground != StripGround::Transparent || offered.contains(QString(format.name)))
            continue;
        StickerOptions options = d.dialog.choices().options();
        options.format = &format;
        QVERIFY_THROWS_EXCEPTION(QuillowError, makeSticker(strip(), Qt::black, options));
    }
}

void TestStickerDialog::chosenEffectAndFormatComeBack()
{
    FakeMaker fake;
    Dialog d(fake.maker());
    choose(d.preset(), QStringLiteral("discord-emoji"));
    choose(d.effect(), QStringLiteral("shake"));
    QVERIFY(d.settled());

    // Down the list with the arrow keys: every preset shakes.
    d.preset()->setCurrentIndex(0);
    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
    d.preset()->setFocus();
    QStringList shown;
    for (int i = 1; i < d.preset()->count(); ++i) {
        QTest::keyClick(d.preset(), Qt::Key_Down);
        QVERIFY(d.settled());
        shown << d.preset()->currentData().toString() + QLatin1Char('=') +
                     d.effect()->currentData().toString() + QLatin1Char('/') + nameOf(fake.last().effect);
    }
    QCOMPARE(shown,
             (QStringList{"wechat=shake/shake", "qq=shake/shake", "telegram=shake/shake",
                          "telegram-emoji=shake/shake", "whatsapp=shake/shake", "discord-emoji=shake/shake",
                          "discord-sticker=shake/shake", "line=shake/shake", "slack=shake/shake"}));

    // WebP chosen for a Telegram still; WeChat's stills are PNG only; its
    // animations GIF; a Telegram animation is video; the Telegram still is
    // WebP again.
    choose(d.effect(), QStringLiteral("still"));
    choose(d.preset(), QStringLiteral("telegram"));
    choose(d.format(), QStringLiteral("webp"));
    choose(d.preset(), QStringLiteral("wechat"));
    QVERIFY(d.settled());
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("png-alpha"));
    QVERIFY(!d.format()->isEnabled());
    choose(d.effect(), QStringLiteral("shake"));
    QVERIFY(d.settled());
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("gif"));
    choose(d.preset(), QStringLiteral("telegram"));
    QVERIFY(d.settled());
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("webm"));
    choose(d.effect(), QStringLiteral("still"));
    QVERIFY(d.settled());
    QCOMPARE(d.format()->currentText(), QStringLiteral("WebP"));
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("webp"));

    // And both are there when the dialog opens again.
    choose(d.preset(), QStringLiteral("discord-emoji"));
    choose(d.preset(), QStringLiteral("telegram"));
    QVERIFY(d.settled());
    Dialog again(fake.maker());
    QVERIFY(again.settled());
    QCOMPARE(nameOf(fake.last().effect), QStringLiteral("still"));
    QCOMPARE(nameOf(fake.last().format), QStringLiteral("webp"));
}

void TestStickerDialog::previewIsTheFileReadBack_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("matte");
    QTest::newRow("GIF with a shadow: one-bit edges") << "wechat"
                                                      << "reveal-shake"
                                                      << "gif"
                                                      << "transparent";
    QTest::newRow("GIF blended onto dark") << "qq"
                                           << "reveal"
                                           << "gif"
                                           << "dark";
    QTest::newRow("APNG with fewer colours") << "discord-sticker"
                                             << "reveal"
                                             << "apng"
                                             << "transparent";
    QTest::newRow("WebP still") << "telegram"
                                << "still"
                                << "webp"
                                << "transparent";
    QTest::newRow("WebP animated") << ""
                                   << "shake"
                                   << "webp"
                                   << "transparent";
    QTest::newRow("PNG still") << "slack"
                               << "still"
                               << "png-alpha"
                               << "transparent";
}

void TestStickerDialog::previewIsTheFileReadBack()
{
    QFETCH(QString, preset);
    QFETCH(QString, effect);
    QFETCH(QString, format);
    QFETCH(QString, matte);
    Dialog d(makeSticker);
    choose(d.preset(), preset);
    choose(d.effect(), effect);
    choose(d.format(), format);
    choose(d.matte(), matte);
    d.shadow()->setChecked(true);
    QVERIFY(d.settled());
    const Sticker *sticker = d.dialog.sticker();
    QVERIFY(sticker);
    QCOMPARE(nameOf(sticker->format), format);

    const PillowFrames file = readWithPillow(sticker->bytes, QString(sticker->format->suffix));
    QVERIFY2(file.failure.isEmpty(), qPrintable(file.failure));
    const Animation &played = d.part<FramePlayer>("plyPreview")->animation();
    QCOMPARE(played.frames.size(), file.images.size());
    for (std::size_t i = 0; i < file.images.size(); ++i) {
        // Frames are premultiplied: a faint pixel keeps fewer levels of
        // colour, the same for both.
        const QString difference = firstDifference(
            played.frames[i].image, file.images[i].convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(difference)));
        if (file.images.size() > 1)
            QCOMPARE(played.frames[i].delayMs, file.delaysMs[i]);
    }
}

// Qt reads no WEBM: the preview decodes the video itself, every frame.
void TestStickerDialog::previewPlaysAWebmVideo()
{
    Dialog d([](const StripLayout &layout, const QColor &ink, StickerOptions options,
                const std::atomic<bool> *cancel) {
        options.format = outputFormatNamed(u"webm");
        return makeSticker(layout, ink, options, cancel);
    });
    choose(d.preset(), QString());
    choose(d.effect(), QStringLiteral("reveal"));
    QVERIFY(d.settled());
    const Sticker *sticker = d.dialog.sticker();
    QVERIFY(sticker);
    QCOMPARE(nameOf(sticker->format), QStringLiteral("webm"));
    const Animation &played = d.part<FramePlayer>("plyPreview")->animation();
    QCOMPARE(int(played.frames.size()), sticker->frames);
    QVERIFY(played.frames.size() > 30);
    QCOMPARE(played.frames.back().image.size(), sticker->size);
    // The first character alone, then the whole phrase.
    QVERIFY(!firstDifference(played.frames.front().image, played.frames.back().image).isEmpty());
}

void TestStickerDialog::typedNameChoosesFormat_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("effect");
    QTest::addColumn<QString>("filter"); // the filter picked before typing; "" leaves the one shown
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("content");

    QTest::newRow("Telegram, .webp") << "telegram"
                                     << "still"
                                     << ""
                                     << "telegram_5.webp"
                                     << "telegram_5.webp"
                                     << "webp";
    QTest::newRow("Telegram, .png") << "telegram"
                                    << "still"
                                    << ""
                                    << "t.png"
                                    << "t.png"
                                    << "png";
    QTest::newRow("Telegram, no suffix, WebP filter") << "telegram"
                                                      << "still"
                                                      << "WebP 图片 (*.webp)"
                                                      << "t"
                                                      << "t.webp"
                                                      << "webp";
    QTest::newRow("Telegram, .gif is none of its") << "telegram"
                                                   << "still"
                                                   << ""
                                                   << "t.gif"
                                                   << "t.gif.png"
                                                   << "png";
    QTest::newRow("custom reveal, .gif") << ""
                                         << "reveal"
                                         << ""
                                         << "custom_reveal.gif"
                                         << "custom_reveal.gif"
                                         << "gif";
    QTest::newRow("custom reveal, .PNG") << ""
                                         << "reveal"
                                         << ""
                                         << "c.PNG"
                                         << "c.PNG"
                                         << "apng";
    QTest::newRow("custom reveal, .apng") << ""
                                          << "reveal"
                                          << ""
                                          << "c.apng"
                                          << "c.apng"
                                          << "apng";
    QTest::newRow("custom still, .webp") << ""
                                         << "still"
                                         << ""
                                         << "c.webp"
                                         << "c.webp"
                                         << "webp";
    QTest::newRow("WeChat animated, .png") << "wechat"
                                           << "reveal"
                                           << ""
                                           << "x.png"
                                           << "x.png.gif"
                                           << "gif";
    QTest::newRow("WeChat still, .webp") << "wechat"
                                         << "still"
                                         << ""
                                         << "x.webp"
                                         << "x.webp.png"
                                         << "png";
    QTest::newRow("QQ, .GIF") << "qq"
                              << "shake"
                              << ""
                              << "q.GIF"
                              << "q.GIF"
                              << "gif";
    QTest::newRow("Discord emoji, .webp") << "discord-emoji"
                                          << "reveal-shake"
                                          << ""
                                          << "e.webp"
                                          << "e.webp.gif"
                                          << "gif";
    QTest::newRow("Discord sticker, .gif") << "discord-sticker"
                                           << "reveal"
                                           << ""
                                           << "d.gif"
                                           << "d.gif.png"
                                           << "apng";
    QTest::newRow("Slack, no suffix") << "slack"
                                      << "reveal"
                                      << ""
                                      << "s"
                                      << "s.gif"
                                      << "gif";
}

void TestStickerDialog::typedNameChoosesFormat()
{
    QFETCH(QString, preset);
    QFETCH(QString, effect);
    QFETCH(QString, filter);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, content);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Dialog d(makeSticker);
    choose(d.preset(), preset);
    choose(d.effect(), effect);
    QVERIFY(d.settled());
    QString proposed, shownFilter;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), typed, proposed, shownFilter, filter);
    d.dialog.save();
    const QString path = folder.filePath(written);
    QTRY_VERIFY2(QFile::exists(path), qPrintable(QDir(folder.path()).entryList(QDir::Files).join(u' ')));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{written});
    const QByteArray bytes = contents(path);
    QCOMPARE(formatOfContent(bytes), content);
    // The sticker on show is the one saved, made as the command line makes it.
    QVERIFY(d.settled());
    QCOMPARE(bytes, d.dialog.sticker()->bytes);
    QCOMPARE(bytes, makeSticker(strip(), Qt::black, d.dialog.choices().options()).bytes);
    QVERIFY2(d.reports.isEmpty(), qPrintable(d.reports.join(u'\n')));
}

void TestStickerDialog::shadowLookReachesTheSticker()
{
    FakeMaker fake;
    {
        Dialog d(fake.maker());
        d.shadow()->setChecked(true);
        d.part<ColourEdit>("edtShadowColour")->setColour(colourValue(0x20, 0x40, 0x80));
        d.part<QSpinBox>("spnShadowOpacity")->setValue(75);
        d.part<QSpinBox>("spnShadowX")->setValue(-4);
        d.part<QSpinBox>("spnShadowY")->setValue(6);
        d.part<QSpinBox>("spnShadowBlur")->setValue(9);
        QVERIFY(d.settled());
        const StickerOptions asked = fake.last();
        QVERIFY(asked.look.shadow);
        QCOMPARE(asked.look.shadowColour, QColor(0x20, 0x40, 0x80, 191));
        QCOMPARE(asked.look.shadowOffset, QPoint(-4, 6));
        QCOMPARE(asked.look.shadowBlur, 9);
        // Without a shadow its settings rest.
        d.shadow()->setChecked(false);
        QVERIFY(!d.part<QSpinBox>("spnShadowBlur")->isEnabled());
    }
    Dialog again(fake.maker());
    QVERIFY(again.settled());
    again.shadow()->setChecked(true);
    QVERIFY(again.settled());
    QCOMPARE(fake.last().look.shadowColour, QColor(0x20, 0x40, 0x80, 191));
    QCOMPARE(fake.last().look.shadowOffset, QPoint(-4, 6));
    QCOMPARE(fake.last().look.shadowBlur, 9);

    // The first time, the command line's own shadow.
    QSettings(QStringLiteral("Quillow"), QStringLiteral("Quillow")).clear();
    Dialog first(fake.maker());
    first.shadow()->setChecked(true);
    QVERIFY(first.settled());
    const StickerLook defaults;
    QCOMPARE(fake.last().look.shadowColour, defaults.shadowColour);
    QCOMPARE(fake.last().look.shadowOffset, defaults.shadowOffset);
    QCOMPARE(fake.last().look.shadowBlur, defaults.shadowBlur);
}

void TestStickerDialog::dialogGrowsToShowTheSticker()
{
    FakeMaker fake;
    fake.shared->size = QSize(560, 180);
    Dialog d(fake.maker());
    d.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.dialog));
    QVERIFY(d.settled());
    const QRect room = d.dialog.screen()->availableGeometry();
    auto *player = d.part<FramePlayer>("plyPreview");
    // True size where the screen holds it; otherwise as large as the screen.
    QTRY_VERIFY2(player->scaleShown() == 1 || d.dialog.frameGeometry().width() >= room.width() - 1,
                 qPrintable(QStringLiteral("scale %1, dialog %2 wide on %3")
                                .arg(player->scaleShown())
                                .arg(d.dialog.frameGeometry().width())
                                .arg(room.width())));
    QVERIFY(room.contains(d.dialog.frameGeometry()));

    // A sticker larger than any screen: the dialog stays on the screen.
    fake.shared->size = QSize(4000, 3000);
    d.outline()->setChecked(false);
    QVERIFY(d.settled());
    QTRY_VERIFY(d.dialog.frameGeometry().width() >= room.width() - 1);
    QVERIFY(room.contains(d.dialog.frameGeometry()));
    QVERIFY(player->scaleShown() < 1);
}

void TestStickerDialog::notesBreakOnlyBetweenClauses_data()
{
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("clauses"); // what a line may end with
    QTest::newRow("first character too small")
        << QStringLiteral("第一个字只有 8 像素高，可能看不清；建议减少字数")
        << QStringList{"第一个字只有", "8", "像素高，", "可能看不清；", "建议减少字数"};
    QTest::newRow("preview scaled") << QStringLiteral("预览已缩小到 40%，保存的文件是原大小。")
                                    << QStringList{"预览已缩小到", "40%，", "保存的文件是原大小。"};
}

// The dialog's notes sit in a narrow column beside the preview; a line
// break inside a word ("看不" / "清") would read as two words.
void TestStickerDialog::notesBreakOnlyBetweenClauses()
{
    QFETCH(QString, note);
    QFETCH(QStringList, clauses);
    FakeMaker fake;
    fake.shared->warnings = {note};
    Dialog d(fake.maker());
    QVERIFY(d.settled());
    const QLabel *notes = d.part<QLabel>("lblNotes");
    QVERIFY(notes->wordWrap());
    // The sticker's warnings come first.
    const QString wrapped = notes->text().split(QLatin1Char('\n')).first();
    QString visible = wrapped;
    visible.remove(QChar(0x2060));
    QCOMPARE(visible, note);
    // Laid out narrower than any clause, every line is one whole clause.
    QTextLayout layout(wrapped, notes->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(20);
        lines << wrapped.mid(line.textStart(), line.textLength()).remove(QChar(0x2060)).trimmed();
    }
    layout.endLayout();
    QCOMPARE(lines, clauses);
}

void TestStickerDialog::playerStepsFramesAndScalesDown()
{
    FramePlayer player;
    player.resize(200, 100); // room for 184 x 84 inside the margin
    Animation animation;
    for (const QColor colour : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
        QImage image(100, 50, QImage::Format_ARGB32_Premultiplied);
        image.fill(colour);
        animation.frames.push_back({image, 30});
    }
    player.setAnimation(animation);
    player.show();
    QVERIFY(QTest::qWaitForWindowExposed(&player));
    QCOMPARE(player.scaleShown(), 1.0);
    QTRY_VERIFY(player.currentFrame() == 2);
    QTRY_VERIFY(player.currentFrame() == 0);

    QSignalSpy scaled(&player, &FramePlayer::scaleChanged);
    player.resize(66, 100);
    QCOMPARE(player.scaleShown(), 0.5);
    QCOMPARE(scaled.count(), 1);
    // Hidden, it stays on its frame.
    player.hide();
    const int frame = player.currentFrame();
    QTest::qWait(100);
    QCOMPARE(player.currentFrame(), frame);
}

void TestStickerDialog::staleCacheFilesGo()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const auto make = [&](const QString &name, qint64 ageSeconds) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.flush(); // a later flush would stamp the file anew
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                 QFileDevice::FileModificationTime));
    };
    make(QStringLiteral("old.png"), 2 * 24 * 3600);
    make(QStringLiteral("fresh.png"), 3600);
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("kept")));
    QCOMPARE(removeStaleCacheFiles(folder.path(), std::chrono::hours(24)), 1);
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("old.png"))));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("fresh.png"))));
    QVERIFY(QFileInfo(folder.filePath(QStringLiteral("kept"))).isDir());
}

void TestStickerDialog::cacheFileNeverReplacesAnother()
{
    const QString first = writeCacheFile(QStringLiteral("同名"), QStringLiteral("png"), "one");
    const QString second = writeCacheFile(QStringLiteral("同名"), QStringLiteral("png"), "two");
    QVERIFY(first != second);
    QCOMPARE(contents(first), QByteArray("one"));
    QCOMPARE(contents(second), QByteArray("two"));
    QFile::remove(first);
    QFile::remove(second);
}

void TestStickerDialog::cacheFileStem_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "友谊的小船"
                           << "友谊的小船";
    QTest::newRow("slash") << "a/b"
                           << "a_b";
    QTest::newRow("control characters") << QStringLiteral("a\tb\nc\x7f") << "a_b_c_";
    QTest::newRow("nothing left") << "  "
                                  << "Quillow";
    QTest::newRow("parent folder") << ".."
                                   << "Quillow";
}

void TestStickerDialog::cacheFileStem()
{
    QFETCH(QString, phrase);
    QFETCH(QString, name);
    QCOMPARE(::cacheFileStem(phrase), name);
}

QTEST_MAIN(TestStickerDialog)
#include "tst_sticker_dialog.moc"
