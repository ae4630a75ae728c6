#include "app/kit/save_dialog.h"
#include "app/window/capture.h"
#include "export/save_command.h"

#include "composition/quillow_error.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

namespace {

Raster whitePicture(int width, int height)
{
    Raster picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(std::size_t(std::max(0, width) * std::max(0, height)), qRgb(255, 255, 255));
    return picture;
}

QWidget *filledWidget(QWidget *parent, QColor colour, QRect geometry)
{
    auto *widget = new QWidget(parent);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

class TestSaveCommand : public QObject {
    Q_OBJECT

private slots:
    void dialogSetup_data();
    void dialogSetup();
    void refusesEmptyPicture_data();
    void refusesEmptyPicture();
    void writesChosenFormat_data();
    void writesChosenFormat();
    void captureKeepsWholeWidget();
    void captureOfNoWidgetIsEmpty();
};

void TestSaveCommand::dialogSetup_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("tag 0, BMP") << 0 << QStringLiteral("我们一起喊") << QStringLiteral("bmp")
                                << QStringLiteral("Bitmaps (*.bmp)") << QStringLiteral("我们一起喊.bmp");
    QTest::newRow("tag 1, PNG") << 1 << QStringLiteral("我们一起喊") << QStringLiteral("png")
                                << QStringLiteral("Png (*.png)") << QStringLiteral("我们一起喊.png");
    QTest::newRow("tag 2, PNG, spaces kept")
        << 2 << QStringLiteral("  大声 ") << QStringLiteral("png") << QStringLiteral("Png (*.png)")
        << QStringLiteral("  大声 .png");
    QTest::newRow("tag 0, spaces kept") << 0 << QStringLiteral(" 喊 ") << QStringLiteral("bmp")
                                        << QStringLiteral("Bitmaps (*.bmp)") << QStringLiteral(" 喊 .bmp");
    // A "/" would name a file in a folder that does not exist; control
    // characters are no part of a name anyone can read.
    QTest::newRow("slash in the phrase") << 1 << QStringLiteral("对/错") << QStringLiteral("png")
                                         << QStringLiteral("Png (*.png)") << QStringLiteral("对_错.png");
    QTest::newRow("slashes at both ends and doubled")
        << 0 << QStringLiteral("/a//b/") << QStringLiteral("bmp") << QStringLiteral("Bitmaps (*.bmp)")
        << QStringLiteral("_a__b_.bmp");
    QTest::newRow("control characters, C0, DEL and C1")
        << 1 << (QStringLiteral("\t喊\n") + QChar(0) + QChar(0x7F) + QChar(0x85) + QChar(0x1B))
        << QStringLiteral("png") << QStringLiteral("Png (*.png)") << QStringLiteral("_喊_____.png");
    // Everything else is the user's own: a backslash, dots and the
    // characters other systems refuse are valid here, and an emoji with its
    // modifier or joiner keeps its surrogate pairs and format characters.
    QTest::newRow("other punctuation kept")
        << 1 << QStringLiteral("..\\a:b*?<>|\"") << QStringLiteral("png") << QStringLiteral("Png (*.png)")
        << QStringLiteral("..\\a:b*?<>|\".png");
    QTest::newRow("emoji and joiners kept")
        << 0 << QStringLiteral("好👍🏽👨‍👩‍👧") << QStringLiteral("bmp")
        << QStringLiteral("Bitmaps (*.bmp)") << QStringLiteral("好👍🏽👨‍👩‍👧.bmp");
}

void TestSaveCommand::dialogSetup()
{
    QFETCH(int, tag);
    QFETCH(QString, phrase);
    QFETCH(QString, suffix);
    QFETCH(QString, filter);
    QFETCH(QString, fileName);
    const SaveDialogSetup setup = ::dialogSetup(formatForTag(tag), phrase);
    QCOMPARE(setup.defaultSuffix, suffix);
    QCOMPARE(setup.nameFilter, filter);
    QCOMPARE(setup.proposedFileName, fileName);
}

void TestSaveCommand::refusesEmptyPicture_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("tag");
    QTest::newRow("zero width, BMP") << 0 << 239 << 0;
    QTest::newRow("zero width, PNG") << 0 << 239 << 1;
    QTest::newRow("zero height, PNG") << 945 << 0 << 1;
}

void TestSaveCommand::refusesEmptyPicture()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, tag);
    try {
        SaveCommand command(whitePicture(width, height), formatForTag(tag));
        QFAIL("an empty picture was accepted");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("图片为空（宽度或高度为 0），无法保存。"));
    }
}

void TestSaveCommand::writesChosenFormat_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<bool>("transparent");
    QTest::newRow("BMP keeps white opaque") << 0 << QByteArray("BM") << false;
    QTest::newRow("PNG makes white transparent") << 1 << QByteArray("\x89PNG") << true;
}

// The blank output area before any preview: a white 945 x 239 picture.
void TestSaveCommand::writesChosenFormat()
{
    QFETCH(int, tag);
    QFETCH(QByteArray, magic);
    QFETCH(bool, transparent);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("blank"));

    const SaveCommand command(whitePicture(945, 239), formatForTag(tag));
    command.writeTo(path);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith(magic));
    const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(945, 239));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (transparent)
                QCOMPARE(qAlpha(image.pixel(x, y)), 0);
            else
                QCOMPARE(image.pixel(x, y), qRgb(255, 255, 255));
        }
    }
}

// The area is wider than the region that shows it and sticks out on the
// left; its child sits wholly outside the visible part. The capture still
// holds all of it, in device pixels.
void TestSaveCommand::captureKeepsWholeWidget()
{
    const qreal scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                            ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                            : 1.0;
    QWidget region;
    region.resize(100, 50);
    QWidget *area = filledWidget(&region, QColor(255, 0, 0), QRect(-50, 5, 300, 40));
    filledWidget(area, QColor(0, 0, 255), QRect(250, 10, 20, 20));
    region.show();
    QVERIFY(QTest::qWaitForWindowExposed(&region));

    const Raster picture = CaptureOutputArea(area);
    QCOMPARE(picture.width, qRound(300 * scale));
    QCOMPARE(picture.height, qRound(40 * scale));
    QCOMPARE(picture.depth, 32);
    QCOMPARE(int(picture.pixels.size()), picture.width * picture.height);

    const auto at = [&](int x, int y) {
        return picture.pixel(qRound(x * scale), qRound(y * scale)) & 0xFFFFFF;
    };
    QCOMPARE(at(10, 20), QRgb(0xFF0000));  // clipped off on screen
    QCOMPARE(at(150, 2), QRgb(0xFF0000));  // visible on screen
    QCOMPARE(at(260, 20), QRgb(0x0000FF)); // the child, beyond the region
    QCOMPARE(at(299, 39), QRgb(0xFF0000)); // bottom-right corner
}

void TestSaveCommand::captureOfNoWidgetIsEmpty()
{
    const Raster picture = CaptureOutputArea(nullptr);
    QCOMPARE(picture.width, 0);
    QCOMPARE(picture.height, 0);
    QVERIFY(picture.pixels.empty());
}

QTEST_MAIN(TestSaveCommand)
#include "tst_save_command.moc"
