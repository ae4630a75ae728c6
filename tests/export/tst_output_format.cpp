#include "export/output_format.h"

#include "animation_checks.h"

#include "composition/quillow_error.h"
#include "export/alpha_png.h"
#include "export/bmp_writer.h"
#include "export/halftone_palette.h"
#include "export/png_writer.h"
#include "export/raster.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

template <typename Write> QByteArray written(Write write)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    write(buffer);
    return buffer.data();
}

QString nameOf(const OutputFileFormat *format)
{
    return format ? QString(format->name) : QStringLiteral("(none)");
}

} // namespace

class TestOutputFormat : public QObject {
    Q_OBJECT
private slots:
    void findsFormatsByName_data();
    void findsFormatsByName();
    void suffixesChooseTheirFormat_data();
    void suffixesChooseTheirFormat();
    void stillsKeepTheirBytes();
    void writesEachKindOfFile_data();
    void writesEachKindOfFile();
    void failedEncodingLeavesTheFile();
};

void TestOutputFormat::findsFormatsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mimeType");
    QTest::addColumn<bool>("animated");
    QTest::addColumn<bool>("whiteGround");
    QTest::newRow("png") << "png"
                         << "png"
                         << "image/png" << false << true;
    QTest::newRow("bmp") << "bmp"
                         << "bmp"
                         << "image/bmp" << false << true;
    QTest::newRow("png-alpha") << "png-alpha"
                               << "png"
                               << "image/png" << false << false;
    QTest::newRow("apng") << "apng"
                          << "png"
                          << "image/apng" << true << false;
    QTest::newRow("gif") << "gif"
                         << "gif"
                         << "image/gif" << true << false;
    QTest::newRow("webp") << "webp"
                          << "webp"
                          << "image/webp" << true << false;
    QTest::newRow("webm") << "webm"
                          << "webm"
                          << "video/webm" << true << false;
}

void TestOutputFormat::findsFormatsByName()
{
    QFETCH(QString, name);
    QFETCH(QString, suffix);
    QFETCH(QString, mimeType);
    QFETCH(bool, animated);
    QFETCH(bool, whiteGround);
    const OutputFileFormat *format = outputFormatNamed(name);
    QVERIFY(format);
    QCOMPARE(QString(format->name), name);
    QCOMPARE(QString(format->suffix), suffix);
    QCOMPARE(QString(format->mimeType), mimeType);
    QCOMPARE(format->animated, animated);
    QCOMPARE(format->ground == StripGround::White, whiteGround);
    QVERIFY(!outputFormatNamed(name.toUpper()));
    QCOMPARE(outputFileFormats().size(), std::size_t(7));
}

void TestOutputFormat::suffixesChooseTheirFormat_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("format");
    QTest::newRow(".png stays the still PNG") << "shout.png"
                                              << "png";
    QTest::newRow(".apng animates") << "shout.apng"
                                    << "apng";
    QTest::newRow(".gif in capitals") << "/tmp/SHOUT.GIF"
                                      << "gif";
    QTest::newRow(".webp") << "a.b/shout.webp"
                           << "webp";
    QTest::newRow(".webm") << "shout.webm"
                           << "webm";
    QTest::newRow(".bmp") << "shout.bmp"
                          << "bmp";
    QTest::newRow("an unknown suffix") << "shout.jpg"
                                       << "(none)";
    QTest::newRow("no suffix, a dot in the folder") << "out.gif/shout"
                                                    << "(none)";
    QTest::newRow("a dot and nothing after") << "shout."
                                             << "(none)";
}

void TestOutputFormat::suffixesChooseTheirFormat()
{
    QFETCH(QString, path);
    QFETCH(QString, format);
    QCOMPARE(nameOf(outputFormatForPath(path)), format);
}

// The table hands the still formats to the writers they always had, with
// the same conversions, so their files keep every byte.
void TestOutputFormat::stillsKeepTheirBytes()
{
    const StripLayout layout = laidOutStrip(phraseSettings(QStringLiteral("我们一起喊")));
    const QImage white = renderStrip(layout, StripGround::White, Qt::black);
    const QImage clear = renderStrip(layout, StripGround::Transparent, Qt::black);
    const EncodeOptions options;
    QCOMPARE(outputFormatNamed(u"png")->encode(Animation{{{white, 0}}, 0}, options).bytes,
             written([&](QIODevice &device) { writePng(reduce(rasterFromImage(white)), device); }));
    QCOMPARE(outputFormatNamed(u"bmp")->encode(Animation{{{white, 0}}, 0}, options).bytes,
             written([&](QIODevice &device) { writeBmp(rasterFromImage(white), device); }));
    QCOMPARE(outputFormatNamed(u"png-alpha")->encode(Animation{{{clear, 0}}, 0}, options).bytes,
             written([&](QIODevice &device) { writeAlphaPng(clear, device); }));
}

void TestOutputFormat::writesEachKindOfFile_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("opening"); // the file's first bytes
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("hasQuality");
    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0a");
    QTest::newRow("png: the last frame alone") << "png" << png << 1 << false;
    QTest::newRow("bmp") << "bmp" << QByteArray("BM") << 1 << false;
    QTest::newRow("png-alpha") << "png-alpha" << png << 1 << false;
    QTest::newRow("apng") << "apng" << png << 3 << true;
    QTest::newRow("gif") << "gif" << QByteArray("GIF89a") << 3 << true;
    QTest::newRow("webp") << "webp" << QByteArray("RIFF") << 3 << false;
    // EBML's magic; 300 ms at 30 fps.
    QTest::newRow("webm") << "webm" << QByteArray::fromHex("1a45dfa3") << 9 << false;
}

void TestOutputFormat::writesEachKindOfFile()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, opening);
    QFETCH(int, frames);
    QFETCH(bool, hasQuality);
    const Patch block{QRect(2, 2, 8, 10), qRgba(220, 20, 40, 255)};
    const Animation animation{{patches({block}, 100), patches({moved(block, 3, 0)}, 100),
                               patches({block, moved(block, 12, 4)}, 100)},
                              0};
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("out"));
    const EncodedAnimation encoded = writeOutputFile(*outputFormatNamed(format), animation, {}, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), encoded.bytes);
    QVERIFY(encoded.bytes.startsWith(opening));
    QCOMPARE(encoded.frames, frames);
    QCOMPARE(encoded.quality >= 0, hasQuality);
}

void TestOutputFormat::failedEncodingLeavesTheFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("kept.gif"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    EncodeOptions options;
    options.maxColours = 1;
    try {
        writeOutputFile(*outputFormatNamed(u"gif"), Animation{{patches({}, 100)}, 0}, options, path);
        QFAIL("no error");
    } catch (const QuillowError &error) {
        QCOMPARE(error.message(), QStringLiteral("调色板颜色数 1 超出范围（应为 2 到 256）。"));
    }
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.gif")});
}

QTEST_MAIN(TestOutputFormat)
#include "tst_output_format.moc"
