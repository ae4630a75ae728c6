#include "app/cache_folder.h"
#include "app/colour_edit.h"
#include "app/frame_player.h"
#include "app/save_dialog.h"
#include "app/sticker_dialog.h"
#include "composition/quillow_error.h"
#include "file_dialog_typing.h"
#include "laid_out_strip.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <mutex>

namespace {

const QString kTestFace = QStringLiteral("WenQuanYi Micro Hei");

// Stands in for makeSticker(): records what it was asked for and answers
// with a sticker whose bytes, cap and format the test chooses.
struct FakeMaker {
    struct Shared {
        std::mutex lock;
        QList<StickerOptions> asked;
        qint64 bytes = 1000;
        std::optional<qint64> cap;
        QString formatName = QStringLiteral("gif");
        QString suffix = QStringLiteral("gif");
        QString mimeType = QStringLiteral("image/gif");
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    StickerMaker maker() const
    {
        return [shared = shared](const StripLayout &, const QColor &, const StickerOptions &options,
                                 const std::atomic<bool> *) {
            const std::lock_guard hold(shared->lock);
            shared->asked.append(options);
            Sticker sticker;
            sticker.bytes = QByteArray("GIF89a") + QByteArray(int(shared->bytes) - 6, 'x');
            sticker.formatName = shared->formatName;
            sticker.suffix = shared->suffix;
            sticker.mimeType = shared->mimeType;
            sticker.size = QSize(40, 20);
            sticker.cap = shared->cap;
            QImage frame(40, 20, QImage::Format_ARGB32_Premultiplied);
            frame.fill(Qt::red);
            sticker.shown.frames.push_back({frame, 100});
            return sticker;
        };
    }
    StickerOptions last() const
    {
        const std::lock_guard hold(shared->lock);
        return shared->asked.isEmpty() ? StickerOptions() : shared->asked.last();
    }
};

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
        while (dialog.isMaking())
            if (!updated.wait())
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
// and notes the name it proposed and its default suffix.
void answerSaveDialog(SaveDialog *dialog, const QString &folder, const QString &fileName, QString &proposed,
                      QString &suffix)
{
    auto *watch = new QTimer(dialog);
    watch->setInterval(10);
    QObject::connect(watch, &QTimer::timeout, dialog, [=, &proposed, &suffix] {
        if (!dialog->isVisible())
            return;
        watch->deleteLater();
        watch->stop();
        const QStringList selected = dialog->selectedFiles();
        proposed = selected.isEmpty() ? QString() : QFileInfo(selected.first()).fileName();
        suffix = dialog->defaultSuffix();
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
    void presetForbidsAnimation();
    void sizeMeter_data();
    void sizeMeter();
    void newerChoiceStopsOlderSticker();
    void saveWaitsForTheStickerAndWritesIt();
    void savedBytesAreTheCoreSticker();
    void copyOffersStickerAndFile_data();
    void copyOffersStickerAndFile();
    void failureIsShownAndNotSaved();

    void playerStepsFramesAndScalesDown();
    void staleCacheFilesGo();
    void cacheFileNeverReplacesAnother();
    void fileNameFromPhrase_data();
    void fileNameFromPhrase();

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

    const StickerOptions asked = fake.last();
    QCOMPARE(asked.preset, QStringLiteral("wechat"));
    QCOMPARE(asked.effect, QStringLiteral("reveal"));
    QCOMPARE(asked.outlinePx, 3);
    QCOMPARE(asked.outlineColour, QColor(Qt::white));
    QVERIFY(!asked.shadow);
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
        d.shadow()->setChecked(true);
        choose(d.matte(), QStringLiteral("dark"));
        choose(d.part<QComboBox>("cbbGround"), QStringLiteral("dark"));
        QVERIFY(d.settled());
    }
    Dialog again(fake.maker());
    QVERIFY(again.settled());
    const StickerChoices shown = again.dialog.choices();
    QCOMPARE(shown.preset, QStringLiteral("slack"));
    QCOMPARE(shown.effect, QStringLiteral("shake"));
    QCOMPARE(shown.outlineWidth, 5);
    QCOMPARE(shown.outlineColour, QColor(0x12, 0x34, 0x56));
    QVERIFY(shown.shadow);
    QCOMPARE(shown.matte, QStringLiteral("dark"));
    QCOMPARE(shown.ground, PreviewGround::Dark);
    QCOMPARE(again.part<FramePlayer>("plyPreview")->ground(), PreviewGround::Dark);
    QCOMPARE(fake.last().matte, std::optional<QColor>(kDarkMatte));

    // Turning the outline off keeps its width for later.
    again.outline()->setChecked(false);
    QVERIFY(again.settled());
    QCOMPARE(fake.last().outlinePx, 0);
    Dialog third(fake.maker());
    QVERIFY(!third.outline()->isChecked());
    QCOMPARE(third.outlineWidth()->value(), 5);
    QVERIFY(!third.outlineWidth()->isEnabled());
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
    QCOMPARE(asked.preset, preset);
    QCOMPARE(asked.effect, effect);
    QCOMPARE(asked.matte, expectedMatte);
}

void TestStickerDialog::presetForbidsAnimation()
{
    FakeMaker fake;
    Dialog d(fake.maker());
    choose(d.effect(), QStringLiteral("shake"));
    choose(d.preset(), QStringLiteral("telegram"));
    QVERIFY(d.settled());
    QCOMPARE(d.effect()->currentText(), QStringLiteral("静止"));
    QCOMPARE(fake.last().effect, QStringLiteral("still"));
    auto *model = qobject_cast<QStandardItemModel *>(d.effect()->model());
    QVERIFY(model);
    QVERIFY(model->item(0)->isEnabled());
    for (int i = 1; i < model->rowCount(); ++i) {
        QVERIFY(!model->item(i)->isEnabled());
        QVERIFY(model->item(i)->toolTip().contains(QStringLiteral("Telegram")));
    }

    // Back on a preset that animates, every effect is offered again.
    choose(d.preset(), QStringLiteral("discord-emoji"));
    for (int i = 0; i < model->rowCount(); ++i)
        QVERIFY(model->item(i)->isEnabled());
    // A remembered animated effect does not survive into Telegram.
    QSettings settings(QStringLiteral("Quillow"), QStringLiteral("Quillow"));
    settings.setValue(QStringLiteral("sticker/preset"), QStringLiteral("telegram"));
    settings.setValue(QStringLiteral("sticker/effect"), QStringLiteral("reveal"));
    QCOMPARE(StickerChoices::load(settings).effect, QStringLiteral("still"));
}

void TestStickerDialog::sizeMeter_data()
{
    QTest::addColumn<QString>("preset"); // empty: no preset
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<std::optional<qint64>>("cap");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("over");
    // Each app's cap reads as the app states it, and the file's size in the
    // same unit: Slack's KB are 1000 bytes, Discord's KiB 1024.
    const std::optional<qint64> discord = 256 * 1024, slack = 128 * 1000, wechat = 1024 * 1024;
    QTest::newRow("well under") << "discord-emoji" << qint64(38 * 1024) << discord << "38 KiB / 256 KiB"
                                << false;
    QTest::newRow("exactly the cap") << "discord-emoji" << qint64(256 * 1024) << discord
                                     << "256 KiB / 256 KiB" << false;
    QTest::newRow("one byte over") << "discord-emoji" << qint64(256 * 1024 + 1) << discord
                                   << "257 KiB / 256 KiB" << true;
    QTest::newRow("far over") << "discord-emoji" << qint64(300 * 1024) << discord << "300 KiB / 256 KiB"
                              << true;
    QTest::newRow("slack at its cap") << "slack" << qint64(128 * 1000) << slack << "128 KB / 128 KB" << false;
    QTest::newRow("slack one byte over")
        << "slack" << qint64(128 * 1000 + 1) << slack << "129 KB / 128 KB" << true;
    QTest::newRow("wechat in MiB") << "wechat" << qint64(38 * 1024) << wechat << "38 KiB / 1 MiB" << false;
    QTest::newRow("no cap") << "" << qint64(1500) << std::optional<qint64>() << "2 KB" << false;
    QTest::newRow("no preset, KB of 1000")
        << "" << qint64(38 * 1024) << std::optional<qint64>() << "39 KB" << false;
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
    QCOMPARE(fake.last().effect, QStringLiteral("shake"));
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
    QString proposed, suffix;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), QStringLiteral("typed"), proposed, suffix);
    go.release();
    const QString written = folder.filePath(QStringLiteral("typed.gif"));
    QTRY_VERIFY(QFile::exists(written));
    QCOMPARE(proposed, QStringLiteral("加_油_!.gif"));
    QCOMPARE(suffix, QStringLiteral("gif"));
    QVERIFY(d.dialog.sticker());
    QCOMPARE(contents(written), d.dialog.sticker()->bytes);
    QVERIFY(d.reports.isEmpty());
}

void TestStickerDialog::savedBytesAreTheCoreSticker()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    Dialog d(makeSticker);
    QVERIFY(d.settled());
    QString proposed, suffix;
    answerSaveDialog(d.dialog.saveDialog(), folder.path(), QStringLiteral("core"), proposed, suffix);
    d.dialog.save();
    const Sticker expected = makeSticker(strip(), Qt::black, d.dialog.choices().options());
    QCOMPARE(contents(folder.filePath(QStringLiteral("core.") + expected.suffix)), expected.bytes);
    QVERIFY(d.reports.isEmpty());
}

void TestStickerDialog::copyOffersStickerAndFile_data()
{
    QTest::addColumn<QString>("formatName");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<QStringList>("offered");
    QTest::newRow("GIF") << "gif"
                         << "gif"
                         << "image/gif" << QStringList{"image/gif", "text/uri-list"};
    QTest::newRow("PNG") << "png-alpha"
                         << "png"
                         << "image/png" << QStringList{"image/png", "text/uri-list"};
    QTest::newRow("APNG also as PNG")
        << "apng"
        << "png"
        << "image/apng" << QStringList{"image/apng", "image/png", "text/uri-list"};
}

void TestStickerDialog::copyOffersStickerAndFile()
{
    QFETCH(QString, formatName);
    QFETCH(QString, suffix);
    QFETCH(QString, mimeType);
    QFETCH(QStringList, offered);
    FakeMaker fake;
    fake.shared->formatName = formatName;
    fake.shared->suffix = suffix;
    fake.shared->mimeType = mimeType;
    Dialog d(fake.maker());
    d.dialog.copy();
    QVERIFY(d.settled());
    QTRY_VERIFY(QGuiApplication::clipboard()->mimeData()->hasUrls());
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    for (const QString &format : offered)
        QVERIFY2(data->formats().contains(format), qPrintable(format));
    QCOMPARE(data->data(mimeType), d.dialog.sticker()->bytes);
    const QString file = data->urls().value(0).toLocalFile();
    QVERIFY(file.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
    QVERIFY(file.endsWith(QLatin1Char('.') + suffix));
    QCOMPARE(contents(file), d.dialog.sticker()->bytes);
    QFile::remove(file);
}

void TestStickerDialog::failureIsShownAndNotSaved()
{
    Dialog d([](const StripLayout &, const QColor &, const StickerOptions &,
                const std::atomic<bool> *) -> Sticker {
        throw QuillowError(QStringLiteral("无法满足 128 KB 的上限"));
    });
    QVERIFY(d.settled());
    QVERIFY(!d.dialog.sticker());
    QVERIFY(d.part<QLabel>("lblNotes")->text().contains(QStringLiteral("128 KB")));
    QVERIFY(!d.part<QPushButton>("btnSaveSticker")->isEnabled());
    d.dialog.save();
    QCOMPARE(d.reports.size(), 1);
    QVERIFY(!d.dialog.saveDialog()->isVisible());
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

void TestStickerDialog::fileNameFromPhrase_data()
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

void TestStickerDialog::fileNameFromPhrase()
{
    QFETCH(QString, phrase);
    QFETCH(QString, name);
    QCOMPARE(::fileNameFromPhrase(phrase), name);
}

QTEST_MAIN(TestStickerDialog)
#include "tst_sticker_dialog.moc"
